# Cross-compiling the module on Linux for 64-bit Windows and CPython 3.11 with
# MinGW-w64 (Debian's g++-mingw-w64-x86-64-win32), as `make wincheck` does:
#   cmake -S . -B build-win --toolchain windows/mingw-w64.cmake \
#     -DPython3_EXECUTABLE=/usr/bin/python3.11 -Dpybind11_DIR=/usr/lib/cmake/pybind11 \
#     -DPython3_INCLUDE_DIR=<3.11 headers with windows/include/pyconfig.h> \
#     -DPython3_LIBRARY=<import library of python311.dll>
# The interpreter named is the build machine's own: CMake and pybind11 ask it
# only for its version, never for where Windows keeps its headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The name a Windows interpreter gives a 3.11 module (its EXT_SUFFIX); the
# build machine's interpreter would answer with its own.
set(PYTHON_MODULE_EXTENSION .cp311-win_amd64.pyd)
