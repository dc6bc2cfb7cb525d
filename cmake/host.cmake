# Native build: tools the Windows builds need at build time.
add_compile_options(-Wall -Wextra -Werror)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_subdirectory(tools)
# The virtual drive's SG_IO door, which Wine's processes load.
add_subdirectory(vdrive)
# The fuzzers of the parsing and addressing code (tests/fuzz), built with clang.
add_subdirectory(tests/fuzz)
