# Security settings storage: the options file, the credential store and the
# security file. security_tests run on both targets (under Wine for the
# Windows builds, where the system's own data protection is used).
add_executable(security_tests
  multi_options_test.cpp
)
target_include_directories(security_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(security_tests PRIVATE vastel_logic GTest::gtest_main)
add_test(NAME security_tests COMMAND security_tests)
