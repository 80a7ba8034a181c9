# Platform files sit beside the logic as name_posix.cpp and name_win.cpp (their tests as
# name_posix_test.cpp and name_win_test.cpp); a target takes the ones of the platform
# it is built for.
function(varn_platform_filter list_name)
  set(sources ${${list_name}})
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix(_test)?\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win(_test)?\\.cpp$")
  endif()
  set(${list_name} ${sources} PARENT_SCOPE)
endfunction()
