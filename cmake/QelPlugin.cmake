# qel_add_plugin(<Name> EFFECT <effect object library> SOURCES <constants sources...>)
#
# One FreeFrame plug-in: the shell, exactly one effect and the deliverable's constants,
# linked into a module named <Name>.so (<Name>.dll on Windows) with no "lib" prefix,
# exporting plugMain and nothing else.
function(qel_add_plugin name)
  cmake_parse_arguments(ARG "" "EFFECT" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE qel_shell ${ARG_EFFECT})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY "${QEL_PLUGIN_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${QEL_PLUGIN_DIR}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    target_link_options(${name} PRIVATE
      "${PROJECT_SOURCE_DIR}/shell/plugin.def" -static -static-libgcc -static-libstdc++)
  else()
    # -z nodelete: a host may unload the plug-in while the OpenMP runtime it brought in
    # still has worker threads parked in the runtime's code; unloading that code under
    # them crashes the host. The library (and so the runtime) stays mapped instead.
    target_link_options(${name} PRIVATE
      "-Wl,--version-script=${PROJECT_SOURCE_DIR}/shell/plugin.map" -Wl,--no-undefined
      -Wl,-z,nodelete)
  endif()
  set_property(GLOBAL APPEND PROPERTY QEL_PLUGINS ${name})
endfunction()

# qel_embed_pgm(<target> <file.pgm> <symbol>)
#
# Embeds a binary PGM into <target> at build time as `const uint8_t <symbol>[W * H]`.
function(qel_embed_pgm target pgm symbol)
  get_filename_component(pgm "${pgm}" ABSOLUTE)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_${symbol}.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" -DINPUT=${pgm} -DOUTPUT=${out} -DSYMBOL=${symbol}
            -P "${PROJECT_SOURCE_DIR}/cmake/embed_pgm.cmake"
    DEPENDS "${pgm}" "${PROJECT_SOURCE_DIR}/cmake/embed_pgm.cmake"
    COMMENT "Embedding ${pgm}" VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
