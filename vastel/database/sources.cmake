# The recording database and the channel list
# it hangs from. Included by vastel/CMakeLists.txt, so the paths are given
# from this file's own directory.
target_sources(vastel_logic PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/../config/channel_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/purge.cpp
  ${CMAKE_CURRENT_LIST_DIR}/space.cpp
)
