# Windows build, i686 (the product) or x86_64 (what runs here under wine64).
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TD_OUT_NAME win64)
    set(TD_ARCH x86_64)
    set(TD_BUILD_TESTS_DEFAULT ON)
else()
    set(TD_OUT_NAME win32)
    set(TD_ARCH i686)
    set(TD_BUILD_TESTS_DEFAULT OFF)
endif()
set(TD_OUT_DIR ${CMAKE_SOURCE_DIR}/out/${TD_OUT_NAME})
set(TD_HOST_TOOLS_DIR "" CACHE PATH "bin folder of the host build")
option(TD_BUILD_TESTS "build the tests (they run under Wine)" ${TD_BUILD_TESTS_DEFAULT})
# A build that only tests (the i686 tests) runs the programs another build
# made, as they ship, instead of its own.
set(TD_TESTED_DIR "" CACHE PATH "folder of the tunedeck.exe and WNASPI32.DLL the tests run (empty: this build's own)")

add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501 NOMINMAX)
add_compile_options(-Wall -Wextra -Werror -ffunction-sections -fdata-sections)
add_link_options(-static -static-libgcc -static-libstdc++ -Wl,--gc-sections
    $<$<CONFIG:Release>:-s>)
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/wine_run --lane ${TD_ARCH})

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

# Copies a built program or DLL to out/win32 or out/win64; a build that only
# tests keeps its own copy aside, out of the tests' way.
function(td_publish target)
    if(TD_TESTED_DIR)
        set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE
            RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/untested)
        return()
    endif()
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
if(NOT TD_TESTED_DIR)
    add_subdirectory(bench)
endif()

# What the tests start or load, beside them in bin/: this build's own programs,
# or the ones in TD_TESTED_DIR.
if(TD_TESTED_DIR)
    add_custom_target(td_programs_under_test ALL
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
        COMMAND ${CMAKE_COMMAND} -E copy_if_different ${TD_TESTED_DIR}/tunedeck.exe
            ${TD_TESTED_DIR}/WNASPI32.DLL ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
        VERBATIM)
else()
    add_custom_target(td_programs_under_test)
    add_dependencies(td_programs_under_test tunedeck WNASPI32)
endif()

if(TD_BUILD_TESTS)
    enable_testing()
    add_subdirectory(tests)
endif()
