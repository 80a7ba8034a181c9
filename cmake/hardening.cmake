# The hardening every Debian package is built with, for the programs, which may run
# as root until the port is open, and for libio.so: checked string and memory
# functions (fortify), a strong stack protector, relocations read-only after start and
# bound at load time (relro, bindnow), position-independent programs (PIE).
#
# Where dpkg-buildflags is installed, its flags are taken with every hardening
# feature on, as a package build gets them; the optimisation and debug options in
# them are left to the build type. Elsewhere the same set is given by hand.
#
# Fortify needs optimisation, so it holds for the optimised build types only, and not
# for the sanitizer builds: its checked copies of the string functions would hide
# from AddressSanitizer the very overflows it looks for.
#
# The Windows builds take what applies to a PE file: the stack protector and fortify
# of mingw-w64 (libssp, linked in statically like the rest of the runtime), address
# space randomisation (--dynamicbase, and --high-entropy-va for 64 bits) and a stack
# and heap that don't execute (--nxcompat).
option(VARN_HARDENING "Build with the distribution's hardening flags" ON)
# Whether this build has every feature a package build has, which the package's
# hardening checks hold it to: hardening on, an optimised build type, no sanitizers.
set(VARN_FULLY_HARDENED OFF)
if(NOT VARN_HARDENING)
  return()
endif()
include(CheckPIESupported)

set(varn_sanitized OFF)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=")
  set(varn_sanitized ON)
endif()

# Flags for the compiler (CXXFLAGS), the preprocessor (CPPFLAGS) and the linker (LDFLAGS).
set(varn_hard_cxx)
set(varn_hard_cpp)
set(varn_hard_ld)
find_program(VARN_DPKG_BUILDFLAGS dpkg-buildflags)
if(WIN32)
  set(varn_hard_cxx -fstack-protector-strong)
  set(varn_hard_cpp -D_FORTIFY_SOURCE=2)
  set(varn_hard_ld -fstack-protector-strong -Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND varn_hard_ld -Wl,--high-entropy-va)
  endif()
elseif(VARN_DPKG_BUILDFLAGS)
  foreach(kind CXX CPP LD)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${VARN_DPKG_BUILDFLAGS} --get ${kind}FLAGS
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${kind}FLAGS failed (${status})")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    # -O and -g are the build type's; a prefix map names the folder it was asked from.
    list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|f(file|debug|macro)-prefix-map=.*)$")
    string(TOLOWER ${kind} lower)
    set(varn_hard_${lower} ${flags})
  endforeach()
else()
  set(varn_hard_cxx -fstack-protector-strong -Wformat -Werror=format-security)
  set(varn_hard_cpp -D_FORTIFY_SOURCE=2)
  set(varn_hard_ld -Wl,-z,relro -Wl,-z,now)
endif()
# Fortify's level stands apart, for the optimised, unsanitized builds; a level the
# compiler already defines by itself is replaced, not redefined.
set(varn_fortify ${varn_hard_cpp})
list(FILTER varn_fortify INCLUDE REGEX "^-D_FORTIFY_SOURCE")
list(FILTER varn_hard_cpp EXCLUDE REGEX "^-[DU]_FORTIFY_SOURCE")
add_compile_options(${varn_hard_cxx} ${varn_hard_cpp})
if(varn_fortify AND NOT varn_sanitized)
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;${varn_fortify}>")
endif()
add_link_options(${varn_hard_ld})

# Control-flow protection on x86, where the compiler has it: -fcf-protection puts an
# ENDBR at every indirect branch target and keeps calls and returns fit for a shadow
# stack. The linker marks a file fit for both (the note hardening-check reads) only
# when every object in it is marked, and Debian 12's C start files (Scrt1.o, crti.o,
# crtn.o) are not: -z ibt and -z shstk mark the whole. Their code keeps calls and
# returns matched, all a shadow stack needs; their three entry points lack an ENDBR,
# which matters only where a kernel enforces indirect-branch tracking for user
# programs, as Linux does not. The sanitizers' runtimes are not marked, nor are the
# sanitized builds. VARN_CF_PROTECTION: whether this build has it.
set(VARN_CF_PROTECTION OFF)
if(NOT WIN32 AND NOT varn_sanitized)
  include(CheckCXXCompilerFlag)
  include(CheckLinkerFlag)
  check_cxx_compiler_flag(-fcf-protection VARN_HAS_CF_PROTECTION)
  if(VARN_HAS_CF_PROTECTION)
    check_linker_flag(CXX "LINKER:-z,ibt,-z,shstk" VARN_HAS_CF_MARKING)
  endif()
  if(VARN_HAS_CF_PROTECTION AND VARN_HAS_CF_MARKING)
    set(VARN_CF_PROTECTION ON)
    list(APPEND varn_hard_cxx -fcf-protection)
    list(APPEND varn_hard_ld -Wl,-z,ibt,-z,shstk)
    add_compile_options(-fcf-protection)
    add_link_options(LINKER:-z,ibt,-z,shstk)
  endif()
endif()

# The programs as PIE: compiled position-independent (CMAKE_POSITION_INDEPENDENT_CODE)
# and linked with -pie where the toolchain doesn't do it by default.
if(NOT WIN32)
  check_pie_supported(LANGUAGES CXX)
endif()
if(varn_sanitized)
  set(varn_fortify "(no fortify beside the sanitizers)")
elseif(varn_fortify AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  set(VARN_FULLY_HARDENED ON)
endif()
string(JOIN " " varn_hardening_compile ${varn_hard_cxx} ${varn_hard_cpp} ${varn_fortify})
string(JOIN " " varn_hardening_link ${varn_hard_ld})
message(STATUS "Hardening: compile ${varn_hardening_compile}; link ${varn_hardening_link}")
