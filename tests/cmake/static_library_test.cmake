# cmake -DSOURCE_DIR=<project> -DWORK_DIR=<scratch> -P static_library_test.cmake
# A made-up prefix holds fakeenc, which requires fakecodec; both have a dylib and a shared object
# beside their Mach-O archives, built for x86_64 as the configure is. helpers_static_library must
# link the archives by their full paths, keep m as -lm, and stop the configure, naming the
# archive, when fakecodec has none, and naming the build to run when it holds only arm64.
cmake_minimum_required(VERSION 3.25)

file(GLOB llvm_bins /usr/lib/llvm-*/bin)
find_program(clang NAMES clang REQUIRED)
find_program(ar NAMES llvm-ar HINTS ${llvm_bins} REQUIRED)
find_program(lipo NAMES llvm-lipo lipo HINTS ${llvm_bins} REQUIRED)

# lib<name>.a holding these architectures, as a universal file (what this LLVM's lipo reads).
function(make_archive name)
    file(WRITE "${WORK_DIR}/${name}.c" "int ${name}(void) { return 1; }\n")
    set(thin "")
    foreach(arch IN LISTS ARGN)
        set(object "${WORK_DIR}/${name}-${arch}.o")
        execute_process(COMMAND "${clang}" -target ${arch}-apple-macos13 -c "${WORK_DIR}/${name}.c"
                                -o "${object}" COMMAND_ERROR_IS_FATAL ANY)
        file(REMOVE "${object}.a")
        execute_process(COMMAND "${ar}" rcs "${object}.a" "${object}" COMMAND_ERROR_IS_FATAL ANY)
        list(APPEND thin "${object}.a")
    endforeach()
    execute_process(COMMAND "${lipo}" -create ${thin} -output "${prefix}/lib/lib${name}.a"
                    COMMAND_ERROR_IS_FATAL ANY)
endfunction()

# Configures the fixture for `ARCHITECTURES` (default x86_64).
function(configure_against prefix out_result out_output)
    set(architectures x86_64)
    if(ARGN)
        set(architectures "${ARGN}")
    endif()
    file(REMOVE_RECURSE "${WORK_DIR}/build")
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env "PKG_CONFIG_PATH=${prefix}/lib/pkgconfig"
                ${CMAKE_COMMAND} -S "${WORK_DIR}/project" -B "${WORK_DIR}/build"
                "-DCMAKE_OSX_ARCHITECTURES=${architectures}" -DHELPERS_LIPO=${lipo}
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    set(${out_result} "${result}" PARENT_SCOPE)
    set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

function(fail message output)
    message(FATAL_ERROR "${message}\n--- configure output ---\n${output}")
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
foreach(name fakeenc fakecodec)
    set(requires "")
    if(name STREQUAL "fakeenc")
        set(requires "Requires.private: fakecodec")
    endif()
    file(WRITE "${prefix}/lib/pkgconfig/${name}.pc"
         "libdir=${prefix}/lib\nincludedir=${prefix}/include\n"
         "Name: ${name}\nDescription: test\nVersion: 1\n${requires}\n"
         "Libs: -L\${libdir} -l${name}\nLibs.private: -lm\nCflags: -I\${includedir}/${name}\n")
    file(TOUCH "${prefix}/lib/lib${name}.so" "${prefix}/lib/lib${name}.dylib")
    make_archive(${name} x86_64)
endforeach()
file(WRITE "${WORK_DIR}/project/CMakeLists.txt" "
cmake_minimum_required(VERSION 3.25)
project(static_library_check NONE)
find_package(PkgConfig REQUIRED)
include(\"${SOURCE_DIR}/cmake/StaticLibrary.cmake\")
helpers_static_library(fixture::enc fakeenc)
get_target_property(links fixture::enc INTERFACE_LINK_LIBRARIES)
message(STATUS \"links=[\${links}]\")
")

configure_against("${prefix}" result output)
if(NOT result EQUAL 0)
    fail("configure failed with every archive present" "${output}")
endif()
string(REGEX MATCH "links=\\[([^]\n]*)\\]" _ "${output}")
set(links "${CMAKE_MATCH_1}")
set(allowed "${prefix}/lib/libfakeenc.a" "${prefix}/lib/libfakecodec.a" "-lm")
foreach(wanted IN LISTS allowed)
    if(NOT wanted IN_LIST links)
        fail("${wanted} is not linked: ${links}" "${output}")
    endif()
endforeach()
foreach(item IN LISTS links)
    if(NOT item IN_LIST allowed)
        fail("linked other than the archives and -lm: ${item}" "${output}")
    endif()
endforeach()

file(REMOVE "${prefix}/lib/libfakecodec.a")
configure_against("${prefix}" result output)
if(result EQUAL 0)
    fail("configure went on without libfakecodec.a" "${output}")
endif()
# CMake wraps the message at word boundaries, where depending on the length of the paths in it.
string(REGEX REPLACE "[ \t\r\n]+" " " folded "${output}")
if(NOT folded MATCHES "libfakecodec\\.a" OR NOT folded MATCHES "static library of fakecodec")
    fail("the failure does not name the missing archive and what to install" "${output}")
endif()

# Archives lacking an architecture of the build stop it, naming them and the build they serve;
# archives holding all of them do not.
function(expect_architectures archives build stops naming)
    foreach(entry IN LISTS archives)
        string(REPLACE ":" ";" archs "${entry}")
        list(POP_FRONT archs name)
        make_archive(${name} ${archs})
    endforeach()
    configure_against("${prefix}" result output "${build}")
    string(REGEX REPLACE "[ \t\r\n]+" " " folded "${output}")
    if(stops AND (result EQUAL 0 OR NOT folded MATCHES "${naming}"))
        fail("[${archives}] in a build for ${build} does not stop it naming: ${naming}" "${output}")
    elseif(NOT stops AND NOT result EQUAL 0)
        fail("[${archives}] in a build for ${build} stops it" "${output}")
    endif()
endfunction()

expect_architectures("fakeenc:arm64;fakecodec:arm64" x86_64 TRUE
    "libfakecodec\\.a \\(needed by fakeenc\\) holds arm64, not x86_64.*-DCMAKE_OSX_ARCHITECTURES=\"arm64\"")
expect_architectures("fakeenc:x86_64:arm64;fakecodec:x86_64:arm64" "x86_64;arm64" FALSE "")
expect_architectures("fakecodec:x86_64" "x86_64;arm64" TRUE
    "libfakecodec\\.a \\(needed by fakeenc\\) holds x86_64, not arm64.*-DCMAKE_OSX_ARCHITECTURES=\"x86_64\"")
