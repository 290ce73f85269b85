# The clang-only checking configurations, each in a build folder of its own:
#
#   QEL_FUZZ  everything instrumented for libFuzzer coverage, AddressSanitizer and
#             UndefinedBehaviorSanitizer; builds the fuzz targets under fuzz/.
#   QEL_TSAN  everything built with ThreadSanitizer. OpenMP comes from clang's libomp,
#             whose Archer tool (OMP_TOOL_LIBRARIES=libarcher.so) tells ThreadSanitizer
#             about the runtime's own synchronisation; libgomp is not instrumented.
#
# The sanitizer runtime lives in the programs (tests, fuzz targets): a plug-in built here
# leaves its sanitizer calls to be resolved from the program that loads it.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "QEL_FUZZ and QEL_TSAN need clang: configure with -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang")
endif()
if(QEL_FUZZ AND QEL_TSAN)
  message(FATAL_ERROR "QEL_FUZZ and QEL_TSAN go into separate build folders")
endif()
if(QEL_SANITIZE)
  message(FATAL_ERROR "QEL_SANITIZE is the gcc AddressSanitizer build; QEL_FUZZ already includes it")
endif()

if(QEL_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
else()
  add_compile_options(-fsanitize=thread)
  add_link_options(-fsanitize=thread)
endif()
add_compile_options(-fno-omit-frame-pointer -g)
set(QEL_PLUGIN_UNDEFINED_FROM_HOST ON)
