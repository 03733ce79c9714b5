# The recording database and the channel list.
# database_tests runs on both targets (under Wine for the win32 build):
# real files in temporary directories. database_fault_tests needs the POSIX
# platform layer's seams (fault injection, the settable clock, call counts)
# and sparse files of several gigabytes, so it is Linux only.
add_executable(database_tests
  database_channel_list_test.cpp
  database_layout_test.cpp
  database_space_test.cpp
  database_purge_test.cpp
)
target_include_directories(database_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(database_tests PRIVATE vastel_logic GTest::gtest_main)
add_test(NAME database_tests COMMAND database_tests)

if(NOT WIN32)
  add_executable(database_fault_tests database_fault_test.cpp)
  target_include_directories(database_fault_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(database_fault_tests PRIVATE vastel_logic GTest::gtest_main)
  add_test(NAME database_fault_tests COMMAND database_fault_tests)
endif()
