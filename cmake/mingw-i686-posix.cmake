# The i686 tests: googletest needs std::mutex, which only the posix thread model
# has, so they build apart from the product (which keeps MinGW's default model)
# and run the product's own programs (see TD_TESTED_DIR).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
