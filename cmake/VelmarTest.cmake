include(GoogleTest)
# velmar_add_test(NAME source... LIBS lib...)
# One GoogleTest executable, discovered by CTest, run without a display.
function(velmar_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} test_support GTest::gtest GTest::gtest_main)
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VELMAR_SOURCE_DIR=${PROJECT_SOURCE_DIR};VELMAR_BINARY_DIR=${PROJECT_BINARY_DIR}"
      TIMEOUT 120)
endfunction()
