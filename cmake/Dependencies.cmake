# Every library is installed on the machine (scripts/setup) and found here, never vendored.
find_package(PkgConfig REQUIRED)

include(${CMAKE_CURRENT_LIST_DIR}/StaticLibrary.cmake)

if(APPLE)
    # Homebrew lives in /usr/local (Intel) or /opt/homebrew (Apple silicon); other prefixes come
    # in through CMAKE_PREFIX_PATH and PKG_CONFIG_PATH as usual.
    execute_process(COMMAND brew --prefix OUTPUT_VARIABLE _brew_prefix
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(_brew_prefix)
        list(APPEND CMAKE_PREFIX_PATH "${_brew_prefix}")
        set(ENV{PKG_CONFIG_PATH} "$ENV{PKG_CONFIG_PATH}:${_brew_prefix}/lib/pkgconfig")
    endif()
    if(HELPERS_OPUSPIPE)
        set(_without "-DHELPERS_OPUSPIPE=OFF to build the other programs without opuspipe")
        helpers_static_library(helpers::opusenc libopusenc OTHERWISE "${_without}")
        helpers_static_library(helpers::opus opus OTHERWISE "${_without}")
    endif()
else()
    pkg_check_modules(OPUSENC REQUIRED IMPORTED_TARGET libopusenc)
    pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
    add_library(helpers::opusenc ALIAS PkgConfig::OPUSENC)
    add_library(helpers::opus ALIAS PkgConfig::OPUS)
    # Unicode data for the stand-in; on a Mac CoreFoundation has it.
    pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
    # XML for the stand-in's keyboard layouts (.keylayout files).
    find_package(pugixml REQUIRED)
endif()
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
