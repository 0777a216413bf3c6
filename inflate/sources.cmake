# Decoder and CRC-32 sources for the stub project (sfxhead/CMakeLists.txt includes this file).
# INFLATE_SPEED_SOURCES are compiled with -O2 even in the size-optimised stub: the fast loop,
# the window copies and the CRC update are where nearly all extraction time goes, and cost only a few hundred
# bytes more than at -Os.
set(INFLATE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/decode_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inflate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inflate_fast.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
)
set(INFLATE_SPEED_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inflate_fast.cpp
  ${CMAKE_CURRENT_LIST_DIR}/window.cpp
)
