# Every library is installed on the machine (scripts/setup) and found here, never vendored.
find_package(PkgConfig REQUIRED)
if(APPLE)
    # Homebrew lives in /usr/local (Intel) or /opt/homebrew (Apple silicon), and keeps ICU
    # (keg-only) out of its default search path.
    execute_process(COMMAND brew --prefix OUTPUT_VARIABLE _brew_prefix
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND brew --prefix icu4c OUTPUT_VARIABLE _icu_prefix
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(_brew_prefix)
        list(APPEND CMAKE_PREFIX_PATH "${_brew_prefix}")
        set(ENV{PKG_CONFIG_PATH} "${_brew_prefix}/lib/pkgconfig:$ENV{PKG_CONFIG_PATH}")
    endif()
    if(_icu_prefix)
        set(ENV{PKG_CONFIG_PATH} "${_icu_prefix}/lib/pkgconfig:$ENV{PKG_CONFIG_PATH}")
    endif()
endif()
pkg_check_modules(OPUSENC REQUIRED IMPORTED_TARGET libopusenc)
pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
find_package(nlohmann_json 3.10 REQUIRED)

if(HELPERS_TESTS)
    find_package(GTest REQUIRED)
endif()
if(HELPERS_BENCH)
    find_package(benchmark REQUIRED)
endif()

# A unit test binary beside the code it tests, registered with CTest.
function(helpers_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} helpers_warnings GTest::gtest_main GTest::gmock)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
