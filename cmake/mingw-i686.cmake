# Cross toolchain for the 32-bit Windows stub and the Win32 test programs.
set(TVSFX_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
