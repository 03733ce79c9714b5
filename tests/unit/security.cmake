# Security settings storage: the options file, the credential store and the
# security file. security_tests run on both targets (under Wine for the
# Windows builds, with the system's own data protection); the POSIX ones
# reach the machine key and the failure paths through the fault seam.
add_executable(security_tests
  multi_options_test.cpp
  secure_store_test.cpp
  secret_ini_test.cpp
)
target_include_directories(security_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(security_tests PRIVATE vastel_logic GTest::gtest_main)
add_test(NAME security_tests COMMAND security_tests)

if(NOT WIN32)
  add_executable(posix_security_tests
    posix_security_test.cpp
  )
  target_include_directories(posix_security_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(posix_security_tests PRIVATE vastel_logic GTest::gtest_main)
  add_test(NAME posix_security_tests COMMAND posix_security_tests)
  # Never the machine's own key: the tests protect with one of the build's.
  set_tests_properties(security_tests posix_security_tests PROPERTIES
    ENVIRONMENT VELMORA_MACHINE_KEY=${CMAKE_CURRENT_BINARY_DIR}/machine.key)
endif()
