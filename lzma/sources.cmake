# LZMA decoder sources for the stub project (sfxhead/CMakeLists.txt includes this file). The
# whole decoder is its hot loop, so the stub builds it with -O2 like the Deflate fast loop.
set(LZMA_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/lzma_decode.cpp
)
set(LZMA_SPEED_SOURCES ${LZMA_SOURCES})
