# Windows build, i686 (the product) or x86_64 (what runs here under wine64).
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TD_OUT_NAME win64)
else()
    set(TD_OUT_NAME win32)
endif()
set(TD_OUT_DIR ${CMAKE_SOURCE_DIR}/out/${TD_OUT_NAME})
set(TD_HOST_TOOLS_DIR "" CACHE PATH "bin folder of the host build")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TD_BUILD_TESTS_DEFAULT ON)
else()
    set(TD_BUILD_TESTS_DEFAULT OFF)
endif()
option(TD_BUILD_TESTS "build the tests (they run under wine64)" ${TD_BUILD_TESTS_DEFAULT})

add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 NOMINMAX)
add_compile_options(-Wall -Wextra -Werror -ffunction-sections -fdata-sections)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections
    $<$<CONFIG:Release>:-s>)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/wine_run)

# Code of ours that runs in Windows programs (the product, the virtual drive)
# is built without exceptions or RTTI; tests may use both.
function(td_windows_code target)
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
endfunction()

# The product is built for size as well: its time goes to the drive, the disk
# and the system, not to its own loops (bench/ shows that -Os costs nothing
# there). On i686 nothing unwinds through it, so it carries no unwind tables
# (x86_64 keeps them: there they are the system's own exception data).
function(td_product_code target)
    td_windows_code(${target})
    target_compile_options(${target} PRIVATE -Os)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
    endif()
endfunction()

# Copies a built program or DLL to out/win32 or out/win64.
function(td_publish target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E make_directory ${TD_OUT_DIR}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${target}> ${TD_OUT_DIR}/)
endfunction()

add_subdirectory(res)
add_subdirectory(controls)
add_subdirectory(cd)
add_subdirectory(audio)
add_subdirectory(app)
add_subdirectory(vdrive)
add_subdirectory(tools)
add_subdirectory(bench)

if(TD_BUILD_TESTS)
    enable_testing()
    add_subdirectory(tests)
endif()
