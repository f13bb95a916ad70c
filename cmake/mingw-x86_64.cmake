# Toolchain of the win64 tree.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CTYSET2_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
