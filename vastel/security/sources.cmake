# Security settings storage: the typed options file, the credential store
# over the system's data protection, and the security file.
target_sources(vastel_logic PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/multi_options.cpp
)
