# add_unit_tests(NAME <target> LABEL <label> SOURCES <files...> LIBS <targets...> [GUARD_MS <ms>])
# Builds one test program from GoogleTest sources and registers every test case with CTest under LABEL.
# GUARD_MS is the deadlock guard's limit for the tests and the programs they start (30 s by default).
# KOVRA_TEST_PROGRAM_FLAGS (a list) is added to the test programs' own compile options: the sanitizer pass of
# scripts/test compiles the code under test optimised and the test programs' own sources with less optimisation,
# where most of its compile time would otherwise go.
set(KOVRA_TEST_PROGRAM_FLAGS "" CACHE STRING "Extra compile options for the test programs' own sources")
function(add_unit_tests)
  cmake_parse_arguments(T "" "NAME;LABEL;GUARD_MS" "SOURCES;LIBS" ${ARGN})
  if(NOT T_GUARD_MS)
    set(T_GUARD_MS 30000)
  endif()
  if(NOT BUILD_TESTING)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_compile_options(${T_NAME} PRIVATE ${KOVRA_TEST_PROGRAM_FLAGS})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # A send or message wait that would deadlock aborts the test with a report instead of hanging the run; the
  # windows stay off the developer's own display (tests that show windows start an X server of their own).
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 300 ENVIRONMENT "WINLAYER_DEADLOCK_TIMEOUT_MS=${T_GUARD_MS}"
    ENVIRONMENT_MODIFICATION "WINLAYER_DISPLAY=set:none")
endfunction()
