# Project-wide compile settings and the helpers every subsystem uses.

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

option(TALVENOR_SANITIZE "Build with AddressSanitizer and UBSan (native only)" OFF)
option(TALVENOR_TSAN "Build with ThreadSanitizer (native only)" OFF)
option(TALVENOR_BENCHMARKS "Build the Google Benchmark programs (native only)" OFF)
option(TALVENOR_TESTS "Build the tests" ON)
option(TALVENOR_FUZZ "Build the libFuzzer targets (native, clang)" OFF)

# float-cast-overflow is not part of "undefined" in GCC: a float too large for the
# integer it is converted to (a rate of 5 GHz into a 32-bit count) is caught too.
if(TALVENOR_SANITIZE AND NOT WIN32)
    add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined,float-cast-overflow)
    add_link_options(-fsanitize=address,undefined,float-cast-overflow)
endif()
# The threads of the native tests (the pause protocol, the exchange of positions,
# the slot list, the writer queue) under the race detector.
if(TALVENOR_TSAN AND NOT WIN32)
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
endif()

# Product code: warnings on, no exceptions, no RTTI dependence.
function(talvenor_product_target target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -fno-exceptions)
endfunction()

# One test executable is one ctest test (under Wine every process start costs
# about half a second, so test cases are grouped per executable).
#   talvenor_add_test(NAME n SOURCES a.cpp ... LIBS lib ... [TIMEOUT s] [LABELS l ...])
# LABELS timing marks a test that judges real-time streaming or waits: the Windows
# test run gives those the machine to themselves (scripts/run-tests).
function(talvenor_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_compile_options(${T_NAME} PRIVATE -Wall -Wextra)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(_labels ${T_LABELS})
    if(WIN32)
        list(APPEND _labels wine)
    else()
        list(APPEND _labels native)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${_labels}")
endfunction()
