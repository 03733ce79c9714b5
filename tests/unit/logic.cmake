# Unit tests of the logic and of the platform calls it relies on: built for
# both targets (under Wine for the win32 build).
add_executable(vastel_unit_tests
  ini_test.cpp
  log_test.cpp
  platform_contract_test.cpp
)
target_include_directories(vastel_unit_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(vastel_unit_tests PRIVATE vastel_logic GTest::gtest_main)
add_test(NAME vastel_unit_tests COMMAND vastel_unit_tests)

# The POSIX platform layer's own seams (fault injection, the settable clock,
# the front ends), and what uses them.
if(NOT WIN32)
  add_executable(posix_platform_tests
    posix_platform_test.cpp
    log_clock_test.cpp
    error_class_test.cpp
  )
  target_include_directories(posix_platform_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(posix_platform_tests PRIVATE vastel_logic GTest::gtest_main)
  add_test(NAME posix_platform_tests COMMAND posix_platform_tests)
endif()
