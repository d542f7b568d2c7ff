include(GoogleTest)

# qv_add_test(<name> SOURCES <files...> LIBS <targets...> [PROPERTIES <ctest props...>])
# One GoogleTest binary; every test in it is registered with ctest. Under
# cross-compilation discovery runs the binary through Wine, so it happens at
# test time (PRE_TEST) rather than at build time.
function(qv_add_test name)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 120 ${arg_PROPERTIES})
endfunction()
