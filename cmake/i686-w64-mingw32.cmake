# 32-bit Windows (the product's main build).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZV_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
