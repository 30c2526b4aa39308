# Cross-compiles the same programs for 64-bit Windows and runs their tests through Wine's 64-bit
# loader: the Windows build for hosts that cannot execute 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(TACTRA_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
