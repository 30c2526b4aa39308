# Cross-compiles the Windows programs for 32-bit Windows (what ships) and runs their tests through
# Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(TACTRA_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
