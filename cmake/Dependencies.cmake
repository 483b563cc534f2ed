# Every library is installed on the machine (scripts/setup) and found here, never vendored.
find_package(PkgConfig REQUIRED)

# Names in a pkg-config static list that are the operating system's own on a Mac (libSystem).
set(HELPERS_SYSTEM_LIBRARIES m c dl pthread System)

# helpers_static_library(<target> <module>): an imported target that links <module> and what its
# static list brings in from their archives, with its headers. A Mac that runs the programs has no
# Homebrew, so no library may come from a dylib; an archive that is missing stops the configure.
function(helpers_static_library target module)
    string(MAKE_C_IDENTIFIER "HELPERS_${module}" prefix)
    pkg_check_modules(${prefix} REQUIRED ${module})
    set(archives "")
    foreach(name IN LISTS ${prefix}_STATIC_LIBRARIES)
        if(name IN_LIST HELPERS_SYSTEM_LIBRARIES)
            list(APPEND archives "-l${name}")
            continue()
        endif()
        # Homebrew's lib/ holds the dylib beside the archive; ask for the archive by its name.
        find_library(${prefix}_ARCHIVE_${name} NAMES "lib${name}.a"
                     PATHS ${${prefix}_STATIC_LIBRARY_DIRS} NO_DEFAULT_PATH)
        if(NOT ${prefix}_ARCHIVE_${name})
            message(FATAL_ERROR
                "lib${name}.a (needed by ${module}) is not in ${${prefix}_STATIC_LIBRARY_DIRS}. "
                "The macOS programs link it statically: install the static library of ${module} "
                "(Homebrew's formula ships it) or point PKG_CONFIG_PATH at a prefix that has it.")
        endif()
        list(APPEND archives "${${prefix}_ARCHIVE_${name}}")
    endforeach()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${${prefix}_STATIC_INCLUDE_DIRS}"
        INTERFACE_LINK_LIBRARIES "${archives}")
endfunction()

if(APPLE)
    # Homebrew lives in /usr/local (Intel) or /opt/homebrew (Apple silicon); other prefixes come
    # in through CMAKE_PREFIX_PATH and PKG_CONFIG_PATH as usual.
    execute_process(COMMAND brew --prefix OUTPUT_VARIABLE _brew_prefix
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(_brew_prefix)
        list(APPEND CMAKE_PREFIX_PATH "${_brew_prefix}")
        set(ENV{PKG_CONFIG_PATH} "$ENV{PKG_CONFIG_PATH}:${_brew_prefix}/lib/pkgconfig")
    endif()
    helpers_static_library(helpers::opusenc libopusenc)
    helpers_static_library(helpers::opus opus)
else()
    pkg_check_modules(OPUSENC REQUIRED IMPORTED_TARGET libopusenc)
    pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
    add_library(helpers::opusenc ALIAS PkgConfig::OPUSENC)
    add_library(helpers::opus ALIAS PkgConfig::OPUS)
    # Unicode data for the stand-in; on a Mac CoreFoundation has it.
    pkg_check_modules(ICU REQUIRED IMPORTED_TARGET icu-uc)
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
