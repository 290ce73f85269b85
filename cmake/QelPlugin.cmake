# qel_add_plugin(<Name> EFFECT <effect object library> SOURCES <constants sources...>)
#
# One FreeFrame plug-in: the shell, exactly one effect and the deliverable's constants,
# linked into a module named <Name>.so (<Name>.dll on Windows) with no "lib" prefix,
# exporting plugMain and nothing else. With QEL_FREI0R, the same deliverable is also built
# as a frei0r module (see qel_add_frei0r_plugin).
function(qel_add_plugin name)
  cmake_parse_arguments(ARG "" "EFFECT" "SOURCES" ${ARGN})
  add_library(${name} MODULE ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE qel_shell qel_freeframe ${ARG_EFFECT})
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
    # The effects' loops run on OpenMP worker threads, which outlive a frame. A host that
    # unloads the plug-in right after a frame would unmap the runtime under them: once
    # loaded, the module (and so the runtime it brought in) stays mapped.
    target_link_options(${name} PRIVATE
      "-Wl,--version-script=${PROJECT_SOURCE_DIR}/shell/plugin.map" -Wl,-z,nodelete)
    if(NOT QEL_PLUGIN_UNDEFINED_FROM_HOST)  # set by the clang sanitizer builds
      target_link_options(${name} PRIVATE -Wl,--no-undefined)
    endif()
  endif()
  set_property(GLOBAL APPEND PROPERTY QEL_PLUGINS ${name})
  if(QEL_FREI0R)
    # At the end of the deliverable's folder, so that sources added to <Name> after this
    # call (embedded tables, settings) are part of the frei0r module as well.
    cmake_language(DEFER CALL qel_add_frei0r_plugin ${name})
  endif()
endfunction()

# qel_add_frei0r_plugin(<Name>)
#
# The frei0r module of the FreeFrame plug-in <Name>: the same sources, effect and shell,
# with the frei0r entry points in place of plugMain. It lands in QEL_FREI0R_DIR as
# <name>.so (lower case, no "lib" prefix: hosts name a frei0r filter by its file name)
# and exports the f0r_* functions and nothing else.
function(qel_add_frei0r_plugin name)
  string(TOLOWER "${name}" module)
  set(target ${name}_frei0r)
  get_target_property(sources ${name} SOURCES)
  get_target_property(libraries ${name} LINK_LIBRARIES)
  list(REMOVE_ITEM libraries qel_freeframe)
  add_library(${target} MODULE ${sources})
  target_link_libraries(${target} PRIVATE qel_frei0r ${libraries})
  foreach(property INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS)
    get_target_property(value ${name} ${property})
    if(value)
      set_property(TARGET ${target} PROPERTY ${property} "${value}")
    endif()
  endforeach()
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME ${module}
    LIBRARY_OUTPUT_DIRECTORY "${QEL_FREI0R_DIR}"
    RUNTIME_OUTPUT_DIRECTORY "${QEL_FREI0R_DIR}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  target_link_options(${target} PRIVATE
    "-Wl,--version-script=${PROJECT_SOURCE_DIR}/frei0r/frei0r.map"
    -Wl,-z,nodelete)  # kept mapped for the OpenMP workers, as the FreeFrame modules
  if(NOT QEL_PLUGIN_UNDEFINED_FROM_HOST)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
  set_property(GLOBAL APPEND PROPERTY QEL_FREI0R_PLUGINS ${target})
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
