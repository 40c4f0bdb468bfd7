# 64-bit Windows, for 64-bit host processes.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZV_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
