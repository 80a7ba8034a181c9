# Tests of what a user gets: the install tree, the manual pages, the Debian package
# and what lintian and hardening-check make of it.
# Each runs tests/install_test.cmake in script mode with its own scratch folder.
set(varn_install_script ${CMAKE_CURRENT_SOURCE_DIR}/install_test.cmake)
foreach(check install man package lintian hardening)
  add_test(NAME release_${check}
           COMMAND ${CMAKE_COMMAND} -DCHECK=${check} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                   -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DSCRATCH=${CMAKE_BINARY_DIR}/release-${check}
                   -DHARDENED=${VARN_FULLY_HARDENED}
                   -DCF_PROTECTION=${VARN_CF_PROTECTION} -P ${varn_install_script})
  # Skipped, not passed, when the tool a check needs (groff, dpkg-deb, lintian,
  # hardening-check) is missing, or, for the hardening checks, in a build that is not
  # built as a package is (a sanitizer or debug build).
  set_tests_properties(release_${check} PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED: " TIMEOUT 300)
endforeach()
