# Security settings storage: the typed options file, the credential store
# over the system's data protection, and the security file.
target_sources(vastel_logic PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/multi_options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/secure_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/secret_ini.cpp
)
# The system's data protection: crypt32 on Windows; elsewhere the platform
# layer brings its own.
if(WIN32)
  target_link_libraries(vastel_logic PUBLIC crypt32)
endif()

# The tool that writes a security file (administrators, the demo, the
# scenario tests); a console program on both targets.
add_executable(securinf_writer ${CMAKE_CURRENT_LIST_DIR}/tools/securinf_writer.cpp)
target_link_libraries(securinf_writer PRIVATE vastel_logic)
