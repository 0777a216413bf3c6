# Native replay of the fuzzers' stored findings, part of `make test` (the root project includes
# this file; fuzz/CMakeLists.txt is the libFuzzer build that scripts/fuzz.sh uses).
# fuzz/regressions/ holds the decoder fuzzer's findings; another fuzz target keeps its findings
# in a subfolder named after it and gets its own replay program and test here, built the same
# way: its fuzz source plus replay_main.cpp. The folders are read when the test runs, so a file
# dropped into them counts without re-running CMake.
include(${CMAKE_CURRENT_LIST_DIR}/../inflate/sources.cmake)

add_executable(replay_fuzz_inflate
  ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_inflate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/embedding/decoder_embedding.cpp
  ${INFLATE_SOURCES}
)
target_include_directories(replay_fuzz_inflate PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../inflate
                           ${CMAKE_CURRENT_LIST_DIR}/../tests/embedding)
# As in the fuzzer: the decoder notes why a stream failed, which the zlib comparison needs.
target_compile_definitions(replay_fuzz_inflate PRIVATE INFLATE_TRACE_ERRORS)
target_compile_options(replay_fuzz_inflate PRIVATE ${TVSFX_WARNINGS})
target_link_libraries(replay_fuzz_inflate PRIVATE ZLIB::ZLIB)
add_test(NAME fuzz_inflate_regressions
         COMMAND replay_fuzz_inflate ${CMAKE_CURRENT_LIST_DIR}/regressions)

# The builder's fuzz targets: each target's source with replay_main.cpp and the builder's
# library, run over fuzz/regressions/<target>/ (without the sanitizers of `make fuzz`).
foreach(target fuzz_zip_input fuzz_inspect fuzz_stub_reader fuzz_entry_decoder)
  add_executable(replay_${target}
    ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp
    ${CMAKE_CURRENT_LIST_DIR}/builder_fuzz_support.cpp
    ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp)
  target_include_directories(replay_${target} PRIVATE ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(replay_${target} PRIVATE tvsfx_core)
  target_compile_options(replay_${target} PRIVATE ${TVSFX_WARNINGS})
  target_compile_definitions(replay_${target} PRIVATE FUZZ_STUB_PATH="${TVSFX_OUT_DIR}/tvsfx32.exe")
  add_test(NAME fuzz_regressions_${target}
           COMMAND replay_${target} ${CMAKE_CURRENT_LIST_DIR}/regressions/${target})
  set_tests_properties(fuzz_regressions_${target} PROPERTIES LABELS "builder;fuzz" TIMEOUT 300)
endforeach()

# The LZMA decoder's target: its findings in fuzz/regressions/fuzz_lzma/, replayed against
# liblzma as in the fuzzer.
add_executable(replay_fuzz_lzma
  ${CMAKE_CURRENT_LIST_DIR}/replay_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/fuzz_lzma.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/embedding/decoder_embedding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tests/embedding/dictionary_embedding.cpp
)
target_include_directories(replay_fuzz_lzma PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../tests/embedding)
target_compile_options(replay_fuzz_lzma PRIVATE ${TVSFX_WARNINGS})
target_link_libraries(replay_fuzz_lzma PRIVATE tv_lzma PkgConfig::LIBLZMA)
add_test(NAME fuzz_lzma_regressions
         COMMAND replay_fuzz_lzma ${CMAKE_CURRENT_LIST_DIR}/regressions/fuzz_lzma)
