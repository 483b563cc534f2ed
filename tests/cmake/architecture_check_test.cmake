# cmake -DMODULE=<ArchitectureCheck.cmake> -P architecture_check_test.cmake
# A list without arm64 warns, naming Rosetta and the universal build; a list with it says nothing.
cmake_minimum_required(VERSION 3.25)

if(DEFINED ARCHITECTURES)  # one case, run as a child so that its warning can be read
    include("${MODULE}")
    helpers_check_architectures("${ARCHITECTURES}")
    return()
endif()

function(expect architectures warns)
    execute_process(COMMAND ${CMAKE_COMMAND} -DMODULE=${MODULE} "-DARCHITECTURES=${architectures}"
                            -P "${CMAKE_CURRENT_LIST_FILE}"
                    ERROR_VARIABLE said RESULT_VARIABLE result)
    string(FIND "${said}" "without Rosetta" rosetta)
    string(FIND "${said}" "-DCMAKE_OSX_ARCHITECTURES=\"x86_64;arm64\"" universal)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "${architectures}: the check failed the configure: ${said}")
    # A developer warning ("CMake Warning (dev)") would be hidden by -Wno-dev.
    elseif(warns AND (rosetta EQUAL -1 OR universal EQUAL -1 OR NOT said MATCHES "CMake Warning"
                      OR said MATCHES "Warning \\(dev\\)"))
        message(FATAL_ERROR "${architectures}: no warning naming Rosetta and the fix: ${said}")
    elseif(NOT warns AND NOT said STREQUAL "")
        message(FATAL_ERROR "${architectures}: a warning where arm64 is built: ${said}")
    endif()
endfunction()

expect("x86_64" TRUE)
expect("x86_64;arm64" FALSE)
expect("arm64" FALSE)
expect("arm64;x86_64" FALSE)
expect("x86_64;x86_64h" TRUE)
