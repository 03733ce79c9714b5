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
