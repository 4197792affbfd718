# Cross-build for 64-bit Windows with MinGW-w64: the same sources as the shipped 32-bit program,
# built only to run the Windows tests under the 64-bit Wine on kernels that run no 32-bit
# programs (scripts/windows-tree).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
