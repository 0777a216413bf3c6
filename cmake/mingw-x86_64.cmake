# Cross toolchain for the x86-64 build of the stub and the Win32 test programs. The product is
# the 32-bit stub; this build exists for the Wine bench on machines whose kernel runs no 32-bit
# code, where it runs the same sources under 64-bit Wine (make wine64).
set(TVSFX_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
