# Resource scripts are compiled by mingw-w64's windres for both targets: into
# an object linked into the PE file on Windows, and into a .res image that
# the POSIX build embeds, so both read exactly the same templates.
if(NOT WIN32)
  find_program(VELMORA_WINDRES NAMES i686-w64-mingw32-windres x86_64-w64-mingw32-windres windres REQUIRED)
endif()

# velmora_add_resources(<target> <script.rc> [DEPENDS files...])
function(velmora_add_resources target script)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  get_filename_component(name ${script} NAME_WE)
  get_filename_component(dir ${script} DIRECTORY)
  if(WIN32)
    set(out ${CMAKE_CURRENT_BINARY_DIR}/${name}.res.o)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_RC_COMPILER} -I ${dir} -O coff -i ${script} -o ${out}
      DEPENDS ${script} ${ARG_DEPENDS} VERBATIM)
    target_sources(${target} PRIVATE ${out})
  else()
    set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
    set(src ${CMAKE_CURRENT_BINARY_DIR}/${name}_res.c)
    add_custom_command(OUTPUT ${res}
      COMMAND ${VELMORA_WINDRES} -I ${dir} -O res -i ${script} -o ${res}
      DEPENDS ${script} ${ARG_DEPENDS} VERBATIM)
    add_custom_command(OUTPUT ${src}
      COMMAND ${CMAKE_COMMAND} -DIN=${res} -DOUT=${src} -P ${PROJECT_SOURCE_DIR}/cmake/EmbedRes.cmake
      DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/EmbedRes.cmake VERBATIM)
    target_sources(${target} PRIVATE ${src})
  endif()
endfunction()
