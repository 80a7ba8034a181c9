# What `cmake --install` adds beside the programs (bin/) and libio.so (its own
# folder, lib/varn-tools/), and the Debian package made from the same install tree by
# `cpack -G DEB`. The package follows Debian policy, and lintian checks it
# (tests/install_test.cmake): compressed manual pages, a machine-readable copyright
# file, a changelog, a maintainer in Debian's form, no library in the system's
# library folders and so no ldconfig.

set(VARN_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/varn-tools)
set(VARN_PACKAGE_MAINTAINER "Varn tools developers <varn-tools@example.org>" CACHE STRING
    "The Debian package's Maintainer field: \"Name <user@mail.host>\", whoever builds the package to distribute it")
# Debian's form: a name, then the mail address in angle brackets, its host a domain.
if(NOT VARN_PACKAGE_MAINTAINER MATCHES "^[^<>@]*[^<>@ ] <[^<>@ ]+@[^<>@ ]+\\.[^<>@ ]+>$")
  message(FATAL_ERROR "VARN_PACKAGE_MAINTAINER '${VARN_PACKAGE_MAINTAINER}' is not of the form \"Name <user@mail.host>\"")
endif()

# gzip -9n, as Debian wants manual pages and changelogs: best compression, and no
# name or time stamp inside, so the same source always gives the same file.
find_program(VARN_GZIP gzip REQUIRED)
set(varn_compressed)
function(varn_gzip source output)
  get_filename_component(folder ${output} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  add_custom_command(OUTPUT ${output} COMMAND ${VARN_GZIP} -9n -c ${source} > ${output} DEPENDS ${source})
  set(varn_compressed ${varn_compressed} ${output} PARENT_SCOPE)
endfunction()

# The pages' headers name the release: the project's version, filled in here.
foreach(page varnprog pavolt)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  varn_gzip(${CMAKE_BINARY_DIR}/man/${page}.1 ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# The changelog, Debian's form of it. The package is native (this project packages
# itself, so the version has no Debian revision) and its newest entry must name the
# project's version: a version raised without an entry stops the configuration.
set(varn_changelog ${CMAKE_SOURCE_DIR}/cmake/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${varn_changelog})
file(STRINGS ${varn_changelog} varn_newest LIMIT_COUNT 1)
if(NOT varn_newest MATCHES "^varn-tools \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "${varn_changelog}: the newest entry '${varn_newest}' is not for version ${PROJECT_VERSION}")
endif()
configure_file(${varn_changelog} ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
varn_gzip(${CMAKE_BINARY_DIR}/debian/changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)

# The copyright file in Debian's machine-readable format, made from LICENSE: its
# copyright line, and its terms as the text of the licence (Expat is Debian's name
# for this MIT licence).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE varn_license)
if(NOT varn_license MATCHES "\nCopyright \\(c\\) ([^\n]+)\n\n(.+)$")
  message(FATAL_ERROR "LICENSE: no copyright line followed by the licence's terms")
endif()
set(varn_copyright_holder ${CMAKE_MATCH_1})
string(STRIP "${CMAKE_MATCH_2}" varn_license_terms)
string(REPLACE "\n\n" "\n.\n" varn_license_terms "${varn_license_terms}")
string(REPLACE "\n" "\n " varn_license_terms " ${varn_license_terms}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/debian/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: varn-tools

Files: *
Copyright: @varn_copyright_holder@
License: Expat
@varn_license_terms@
")
# The README and the pages it leads to (docs/*.md, in docs/ beside it as in the
# source tree), compressed as Debian wants every text in the documentation folder
# that is not small.
varn_gzip(${CMAKE_SOURCE_DIR}/README.md ${CMAKE_BINARY_DIR}/doc/README.md.gz)
file(GLOB varn_doc_pages CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/*.md)
set(varn_doc_pages_gz)
foreach(page ${varn_doc_pages})
  get_filename_component(name ${page} NAME)
  varn_gzip(${page} ${CMAKE_BINARY_DIR}/doc/docs/${name}.gz)
  list(APPEND varn_doc_pages_gz ${CMAKE_BINARY_DIR}/doc/docs/${name}.gz)
endforeach()
add_custom_target(varn_compressed_docs ALL DEPENDS ${varn_compressed})
install(FILES ${CMAKE_BINARY_DIR}/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
        ${CMAKE_BINARY_DIR}/doc/README.md.gz DESTINATION ${VARN_DOC_DIR})
install(FILES ${varn_doc_pages_gz} DESTINATION ${VARN_DOC_DIR}/docs)

# The examples: HEX files ready to program, their C sources, the command files and
# a configuration file. The CMake file that remakes them stays in the source tree,
# and so does the ELF example: an AVR program under /usr/share is an error to
# Debian's rules (a binary of another architecture, arch-dependent, unstripped).
file(GLOB varn_examples ${CMAKE_SOURCE_DIR}/examples/*.hex ${CMAKE_SOURCE_DIR}/examples/*.c
     ${CMAKE_SOURCE_DIR}/examples/*.txt)
list(FILTER varn_examples EXCLUDE REGEX "/CMakeLists\\.txt$")
install(FILES ${varn_examples} DESTINATION ${VARN_DOC_DIR}/examples)

# The udev rule goes where udev reads rules: /usr/lib/udev/rules.d (the packages'
# folder) and /etc/udev/rules.d (the administrator's); udev never looks under
# /usr/local. So the package and a --prefix /usr install put it in
# <prefix>/lib/udev/rules.d; a --prefix /usr/local install, the administrator's own,
# puts it in /etc/udev/rules.d; any other prefix is a tree of its own, and keeps the
# rule inside it, in lib/udev/rules.d, to be copied or linked by hand. The prefix is
# the one given to `cmake --install`, hence the choice at install time.
set(VARN_UDEV_RULES_DIR "" CACHE STRING
    "Folder for the udev rule (relative: under the install prefix); empty: chosen by the prefix, see cmake/packaging.cmake")
install(CODE "set(varn_udev_rule \"${CMAKE_SOURCE_DIR}/docs/udev/60-varn-parport.rules\")
set(varn_udev_rules_dir \"${VARN_UDEV_RULES_DIR}\")")
install(CODE [[
  if(varn_udev_rules_dir STREQUAL "" AND CMAKE_INSTALL_PREFIX MATCHES "^/usr/local/?$")
    set(varn_udev_rules_dir /etc/udev/rules.d)
  elseif(varn_udev_rules_dir STREQUAL "")
    set(varn_udev_rules_dir lib/udev/rules.d)
  endif()
  cmake_path(ABSOLUTE_PATH varn_udev_rules_dir BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}")
  file(INSTALL DESTINATION "${varn_udev_rules_dir}" TYPE FILE FILES "${varn_udev_rule}")
]])

set(CPACK_PACKAGE_NAME varn-tools)
set(CPACK_PACKAGE_VENDOR "Varn")
set(CPACK_PACKAGE_CONTACT ${VARN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "ATmega in-system programmer and stepper-board tester for the PC parallel port")
# Lines of at most 80 characters, as the package tools show them; CPack indents them.
set(CPACK_PACKAGE_DESCRIPTION [[
varnprog programs ATmega microcontrollers over an ISP cable on the PC
parallel port: signature, fuse, lock and calibration bytes, chip erase,
Intel HEX download to flash or EEPROM with read-back verification, and
upload to Intel HEX. pavolt tests a four-axis stepper-motor controller
board: single steps, test drives and ramps, aux outputs, limit switches
and the bytes sent to the motor drivers.

Both reach the port through their own port library, which drives a real
port through the kernel's ppdev driver, for the members of group lp, or
simulates either board pin by pin (LPT1=sim) to try them without the
hardware.]])
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Folders as Debian wants them whatever the builder's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
    GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Dependencies from the binaries when dpkg-dev's dpkg-shlibdeps is there; otherwise
# the two run-time libraries every C++ program of this system needs.
find_program(VARN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VARN_DPKG_SHLIBDEPS)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/depends.cmake.in ${CMAKE_BINARY_DIR}/debian/depends.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/debian/depends.cmake)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6")
endif()
include(CPack)
