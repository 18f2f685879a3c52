# Windows x86_64 DLL, cross-built with MinGW-w64 from the same sources as the i686 one.
# Its tests run under 64-bit Wine, which starts fast where 32-bit programs need emulation.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
