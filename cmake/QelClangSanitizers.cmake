# The clang-only checking configurations, each in a build folder of its own:
#
#   QEL_FUZZ  everything instrumented for libFuzzer coverage, AddressSanitizer and
#             UndefinedBehaviorSanitizer; builds the fuzz targets under fuzz/.
#   QEL_TSAN  everything built with ThreadSanitizer. OpenMP comes from clang's libomp,
#             whose Archer tool (OMP_TOOL_LIBRARIES=libarcher.so) tells ThreadSanitizer
#             about the runtime's own synchronisation; libgomp is not instrumented.
#
# Plug-ins are loaded with dlopen and linked with --no-undefined, so every module and
# program links the shared sanitizer runtime, found again at run time through an rpath.
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
  set(qel_sanitizers address,undefined)
  set(qel_runtime libclang_rt.asan-x86_64.so)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all)
else()
  set(qel_sanitizers thread)
  set(qel_runtime libclang_rt.tsan-x86_64.so)
  add_compile_options(-fsanitize=thread)
endif()
add_compile_options(-fno-omit-frame-pointer -g)

execute_process(COMMAND "${CMAKE_CXX_COMPILER}" -print-file-name=${qel_runtime}
                OUTPUT_VARIABLE qel_runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(qel_runtime_dir "${qel_runtime_path}" DIRECTORY)
add_link_options(-fsanitize=${qel_sanitizers} -shared-libsan "-Wl,-rpath,${qel_runtime_dir}")
