# Cross-compiles for the browser: clang to WebAssembly over Debian's WASI libc and
# libc++ (packages wasi-libc, libc++-14-dev-wasm32, libclang-rt-14-dev-wasm32).
# That libc++ is built without exceptions, so nothing here may throw or catch.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions")
# Only the target's own headers and libraries, never the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
