# add_unit_tests(NAME <target> LABEL <label> SOURCES <files...> LIBS <targets...>)
# Builds one test program from GoogleTest sources and registers every test case with CTest under LABEL.
function(add_unit_tests)
  cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # A send or message wait that would deadlock aborts the test with a report instead of hanging the run; the
  # windows stay off the developer's own display (tests that show windows start an X server of their own).
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${T_LABEL} TIMEOUT 300 ENVIRONMENT "WINLAYER_DEADLOCK_TIMEOUT_MS=30000"
    ENVIRONMENT_MODIFICATION "WINLAYER_DISPLAY=set:none")
endfunction()
