# What a partial machine may lack. Without the switch, a missing tool or library leaves out what
# needs it, with a warning. With it (scripts/test.sh sets it), configuring stops at the first one,
# naming it and where to get it: a green run then means every program was built and every test
# ran.
option(VALDRIX_REQUIRE_ALL_TESTS "Stop configuring when a program, library or test would be left out"
       OFF)

# valdrix_left_out(<what is missing> <where to get it> <what is left out without it>)
function(valdrix_left_out missing source left_out)
  if(VALDRIX_REQUIRE_ALL_TESTS)
    message(FATAL_ERROR "${missing} is missing (${source}): ${left_out} would be left out. "
                        "Install it (bash scripts/install-deps.sh --wine does) or configure "
                        "without VALDRIX_REQUIRE_ALL_TESTS.")
  endif()
  message(WARNING "${missing} is missing (${source}): ${left_out} left out")
endfunction()

# valdrix_find_programs(<found> <what is left out> <program>=<Debian package>...): each program's
# path in VALDRIX_<program>; <found> is false, after valdrix_left_out, when one is missing.
function(valdrix_find_programs found left_out)
  foreach(pair IN LISTS ARGN)
    string(REPLACE "=" ";" pair ${pair})
    list(GET pair 0 program)
    list(GET pair 1 package)
    find_program(VALDRIX_${program} ${program})
    if(NOT VALDRIX_${program})
      valdrix_left_out(${program} "Debian package ${package}" "${left_out}")
      set(${found} FALSE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(${found} TRUE PARENT_SCOPE)
endfunction()
