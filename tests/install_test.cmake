# cmake -DCHECK=install|man|package|lintian|hardening -DBUILD_DIR=... -DSOURCE_DIR=... -DSCRATCH=... -P install_test.cmake
#
# install: `cmake --install --prefix /usr/local` into a scratch DESTDIR, which is
#          then moved, so the programs can only find libio.so through their relative
#          run path; both programs run there on the simulated boards. The udev rule
#          lands in etc/udev/rules.d, as udev reads no rules under /usr/local.
# man:     both manual pages format without a single groff warning.
# package: `cpack -G DEB` makes a package holding the same tree, and the programs
#          unpacked from it run.
# lintian: lintian finds no error and no warning in that package, and, pedantic,
#          no hardening tag.
# hardening: hardening-check (devscripts) finds the package's programs and libio.so
#          built with every hardening feature its distribution's builds have.

cmake_minimum_required(VERSION 3.25)

function(fail)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "${text}")
endfunction()

# Runs an installed program in a fresh working folder with a tiny delay calibration
# and the simulated board that `lpt1` names, and checks its exit status and that it
# printed `expect`.
function(run_expect lpt1 program expect)
  set(work ${SCRATCH}/work)
  file(REMOVE_RECURSE ${work})
  file(MAKE_DIRECTORY ${work})
  file(WRITE ${work}/gcal.txt "1")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env LPT1=${lpt1} ${program} ${ARGN}
    WORKING_DIRECTORY ${work}
    INPUT_FILE /dev/null
    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status
    TIMEOUT 120)
  if(NOT status EQUAL 0)
    fail("${program} ${ARGN}: exit status ${status}\n--- stdout\n${out}\n--- stderr\n${err}")
  endif()
  string(FIND "${out}" "${expect}" at)
  if(at EQUAL -1)
    fail("${program} ${ARGN}: no \"${expect}\" in its output\n--- stdout\n${out}\n--- stderr\n${err}")
  endif()
endfunction()

function(expect_files root)
  foreach(f ${ARGN})
    if(NOT EXISTS ${root}/${f})
      fail("missing after install: ${root}/${f}")
    endif()
  endforeach()
endfunction()

set(installed_files
  bin/varnprog bin/pavolt lib/varn-tools/libio.so
  share/man/man1/varnprog.1.gz share/man/man1/pavolt.1.gz
  share/doc/varn-tools/copyright share/doc/varn-tools/changelog.gz
  share/doc/varn-tools/examples/pavoltconfig.txt
  share/doc/varn-tools/examples/production-atmega644.txt
  share/doc/varn-tools/examples/blink-pattern-eeprom.hex
  share/doc/varn-tools/examples/blink.c)
foreach(part atmega16 atmega32 atmega48 atmega88 atmega168 atmega644 atmega128)
  list(APPEND installed_files share/doc/varn-tools/examples/blink-${part}.hex)
endforeach()
# The README and every page it leads to, compressed.
list(APPEND installed_files share/doc/varn-tools/README.md.gz)
file(GLOB doc_pages RELATIVE ${SOURCE_DIR}/docs ${SOURCE_DIR}/docs/*.md)
foreach(page ${doc_pages})
  list(APPEND installed_files share/doc/varn-tools/docs/${page}.gz)
endforeach()

# The programs must find libio.so in its own folder by a run path relative to
# themselves: an absolute entry would tie the tree to one place (or to the build
# folder).
function(expect_relative_run_path root)
  foreach(program varnprog pavolt)
    file(READ_ELF ${root}/bin/${program} RUNPATH run_path CAPTURE_ERROR error)
    if(error)
      fail("${root}/bin/${program}: ${error}")
    endif()
    string(REPLACE ":" ";" entries "${run_path}")
    if(NOT "$ORIGIN/../lib/varn-tools" IN_LIST entries)
      fail("${program}: run path '${run_path}' lacks $ORIGIN/../lib/varn-tools")
    endif()
    foreach(entry ${entries})
      if(entry MATCHES "^/")
        fail("${program}: absolute run path entry '${entry}'")
      endif()
    endforeach()
  endforeach()
endfunction()

# Both programs, wherever `root` holds bin/ and lib/varn-tools/.
function(run_both root)
  expect_relative_run_path(${root})
  run_expect(sim:timing=fast ${root}/bin/varnprog "Signature bytes: 1e 96 9  " -i)
  run_expect(sim ${root}/bin/pavolt "Default settings:" -p)
endfunction()

# The Debian package of the build, made in ${SCRATCH}/deb; its path in `deb`. With a
# third argument, also unpacked into ${SCRATCH}/root.
function(make_package deb)
  find_program(CPACK cpack HINTS ${CMAKE_COMMAND}/..)
  execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake
                          -B ${SCRATCH}/deb
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  file(GLOB debs ${SCRATCH}/deb/varn-tools_*.deb)
  list(LENGTH debs count)
  if(NOT status EQUAL 0 OR NOT count EQUAL 1)
    fail("cpack -G DEB made ${count} packages (status ${status}):\n${out}\n${err}")
  endif()
  set(${deb} ${debs} PARENT_SCOPE)
  if(ARGC GREATER 1)
    execute_process(COMMAND ${DPKG_DEB} -x ${debs} ${SCRATCH}/root RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      fail("dpkg-deb -x failed (${status})")
    endif()
  endif()
endfunction()

# Says why the check is skipped, here and in the line ctest shows after its summary.
function(skipped why)
  message("SKIPPED: ${why}")
  file(APPEND ${BUILD_DIR}/skipped-tests.txt "release_${CHECK} skipped: ${why}\n")
endfunction()

# The tool `name` into `var`; without it the check is skipped (a macro, so that its
# return() ends the check).
macro(require_tool var name)
  find_program(${var} ${name})
  if(NOT ${var})
    skipped("${name} is not installed")
    return()
  endif()
endmacro()

file(REMOVE_RECURSE ${SCRATCH})
file(MAKE_DIRECTORY ${SCRATCH})

if(CHECK STREQUAL "install")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH}/first
                          ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr/local
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("cmake --install failed (${status}):\n${out}\n${err}")
  endif()
  # Moved after installing: an absolute run path or a library found in the build
  # tree would now fail or be caught by the missing-file check.
  file(RENAME ${SCRATCH}/first ${SCRATCH}/moved)
  expect_files(${SCRATCH}/moved/usr/local ${installed_files})
  expect_files(${SCRATCH}/moved etc/udev/rules.d/60-varn-parport.rules)
  file(GLOB stray ${SCRATCH}/moved/usr/local/share/doc/varn-tools/examples/CMakeLists.txt
       ${SCRATCH}/moved/usr/local/lib/udev)
  if(stray)
    fail("installed where nothing belongs: ${stray}")
  endif()
  run_both(${SCRATCH}/moved/usr/local)

elseif(CHECK STREQUAL "man")
  require_tool(GROFF groff)
  foreach(page varnprog pavolt)
    execute_process(COMMAND ${GROFF} -man -Tutf8 -ww -z ${BUILD_DIR}/man/${page}.1
                    OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT err STREQUAL "")
      fail("${page}.1 does not format cleanly (status ${status}):\n${err}")
    endif()
  endforeach()

elseif(CHECK STREQUAL "package")
  require_tool(DPKG_DEB dpkg-deb)
  make_package(debs unpacked)
  execute_process(COMMAND ${DPKG_DEB} --field ${debs} Package Depends Version
                  OUTPUT_VARIABLE fields RESULT_VARIABLE status)
  string(REGEX MATCH "Version: ([^\n]+)" version_field "${fields}")
  set(version "${CMAKE_MATCH_1}")
  if(NOT fields MATCHES "Package: varn-tools" OR NOT fields MATCHES "Depends: .*libc6" OR version STREQUAL "")
    fail("package control fields are wrong:\n${fields}")
  endif()
  expect_files(${SCRATCH}/root/usr ${installed_files} lib/udev/rules.d/60-varn-parport.rules)
  run_both(${SCRATCH}/root/usr)
  # The programs name the package's version, and so do the manual pages.
  foreach(program varnprog pavolt)
    run_expect(sim ${SCRATCH}/root/usr/bin/${program} "${program} ${version}\n" --version)
    execute_process(COMMAND gzip -dc ${SCRATCH}/root/usr/share/man/man1/${program}.1.gz OUTPUT_VARIABLE page)
    if(NOT page MATCHES "^\\.TH [A-Z]+ 1 \"[0-9]+\" \"varn-tools ${version}\"")
      fail("${program}.1 does not name version ${version} in its header")
    endif()
  endforeach()

elseif(CHECK STREQUAL "lintian")
  require_tool(LINTIAN lintian)
  make_package(deb)
  # Its hardening tags are only informational, so they are looked for by name, in a
  # build made as a package's is.
  execute_process(COMMAND ${LINTIAN} --pedantic --display-info --fail-on error,warning ${deb}
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR out MATCHES "(^|\n)[EW]: " OR (HARDENED AND out MATCHES " hardening-"))
    fail("lintian finds fault with ${deb} (status ${status}):\n${out}\n${err}")
  endif()

elseif(CHECK STREQUAL "hardening")
  if(NOT HARDENED)
    skipped("this build is not made as a package's is (sanitizers, or no optimisation)")
    return()
  endif()
  require_tool(HARDENING_CHECK hardening-check)
  require_tool(DPKG_DEB dpkg-deb)
  make_package(deb unpacked)
  # Control-flow protection is asked for where the build has it (x86, a compiler
  # with -fcf-protection): hardening-check knows only x86's kind.
  if(NOT CF_PROTECTION)
    set(exemptions --nocfprotection)
  endif()
  execute_process(COMMAND ${HARDENING_CHECK} ${exemptions} ${SCRATCH}/root/usr/bin/varnprog
                          ${SCRATCH}/root/usr/bin/pavolt ${SCRATCH}/root/usr/lib/varn-tools/libio.so
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    fail("hardening-check finds features missing (status ${status}):\n${out}\n${err}")
  endif()

else()
  fail("unknown CHECK '${CHECK}'")
endif()
