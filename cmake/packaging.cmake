# What `cmake --install` adds beside the programs and libio.so (installed by their
# own folders: bin/ and lib/, with the run path $ORIGIN/../lib), and the Debian
# package made from the same install tree by `cpack -G DEB`.

set(VARN_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/varn-tools)

install(FILES ${CMAKE_SOURCE_DIR}/docs/man/varnprog.1 ${CMAKE_SOURCE_DIR}/docs/man/pavolt.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The examples: HEX files ready to program, their C sources, the command files and
# a configuration file. The CMake file that remakes them stays in the source tree.
file(GLOB varn_examples ${CMAKE_SOURCE_DIR}/examples/*.hex ${CMAKE_SOURCE_DIR}/examples/*.c
     ${CMAKE_SOURCE_DIR}/examples/*.txt)
list(FILTER varn_examples EXCLUDE REGEX "/CMakeLists\\.txt$")
install(FILES ${varn_examples} DESTINATION ${VARN_DOC_DIR}/examples)

# The udev rule is an example to copy, not installed into the rules folder: Debian
# already gives the ports to group lp, and a package shouldn't change that for all.
install(FILES ${CMAKE_SOURCE_DIR}/docs/udev/60-varn-parport.rules DESTINATION ${VARN_DOC_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${VARN_DOC_DIR} OPTIONAL)
install(FILES ${CMAKE_SOURCE_DIR}/docs/README-users.md DESTINATION ${VARN_DOC_DIR} OPTIONAL)

set(CPACK_PACKAGE_NAME varn-tools)
set(CPACK_PACKAGE_VENDOR "Varn")
set(CPACK_PACKAGE_CONTACT "Varn tools maintainers <varn-tools@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ATmega in-system programmer and stepper-board tester for the PC parallel port")
set(CPACK_PACKAGE_DESCRIPTION
    "varnprog programs ATmega processors over an ISP cable on the parallel port; \
pavolt tests a four-axis stepper-motor controller board. Both reach the port \
through libio.so, which also simulates both boards (LPT1=sim). \
To use a real port, add the user to group lp.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies from the binaries when dpkg-dev's dpkg-shlibdeps is there; otherwise
# the two run-time libraries every C++ program of this system needs.
find_program(VARN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VARN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
include(CPack)
