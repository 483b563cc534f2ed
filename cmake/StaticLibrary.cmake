# Linking a pkg-config module from its static archives (the macOS programs); needs PkgConfig.

# Names in a pkg-config static list that are the operating system's own on a Mac (libSystem).
set(HELPERS_SYSTEM_LIBRARIES m c dl pthread System)

# lipo tells a Mach-O file's architectures: Xcode's on a Mac, LLVM's elsewhere (configure tests).
file(GLOB _helpers_llvm_bins /usr/lib/llvm-*/bin)
find_program(HELPERS_LIPO NAMES lipo llvm-lipo HINTS ${_helpers_llvm_bins})

# The architectures an archive holds, in `out`; nothing, with a warning, when lipo cannot tell.
function(helpers_archive_architectures archive out)
    set(${out} "" PARENT_SCOPE)
    if(NOT HELPERS_LIPO)
        message(WARNING "No lipo (Xcode's command line tools): the architectures of ${archive} "
                        "are left to the linker to check")
        return()
    endif()
    execute_process(COMMAND "${HELPERS_LIPO}" -archs "${archive}" RESULT_VARIABLE failed
                    OUTPUT_VARIABLE found ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
        # Not an archive lipo can read (yet): the link will say more than a guess here could.
        string(REGEX REPLACE "\n.*" "" error "${error}")
        message(WARNING "lipo cannot read ${archive}: ${error}")
        return()
    endif()
    separate_arguments(found UNIX_COMMAND "${found}")
    set(${out} "${found}" PARENT_SCOPE)
endfunction()

# helpers_static_library(<target> <module> [OTHERWISE <text>]): an imported target that links
# <module> and what its static list brings in from their archives, with its headers. A Mac that
# runs the programs has no Homebrew, so no library may come from a dylib; an archive that is
# missing, or lacks an architecture of the build, stops the configure.
function(helpers_static_library target module)
    cmake_parse_arguments(ARG "" "OTHERWISE" "" ${ARGN})
    set(otherwise "")
    if(ARG_OTHERWISE)
        set(otherwise ", or ${ARG_OTHERWISE}")
    endif()
    string(MAKE_C_IDENTIFIER "HELPERS_${module}" prefix)
    pkg_check_modules(${prefix} REQUIRED ${module})
    set(archives "")
    set(named "")  # <name>=<archive>
    set(folders ${${prefix}_STATIC_LIBRARY_DIRS})
    list(REMOVE_DUPLICATES folders)
    foreach(name IN LISTS ${prefix}_STATIC_LIBRARIES)
        if(name IN_LIST HELPERS_SYSTEM_LIBRARIES)
            list(APPEND archives "-l${name}")
            continue()
        endif()
        # Homebrew's lib/ holds the dylib beside the archive; ask for the archive by its name.
        # Not cached: an archive removed since the last configure must stop this one too.
        find_library(archive NAMES "lib${name}.a" PATHS ${folders} NO_DEFAULT_PATH NO_CACHE)
        if(NOT archive)
            message(FATAL_ERROR
                "lib${name}.a (needed by ${module}) is not in ${folders}. The macOS programs "
                "link it statically: install the static library of ${name} (Homebrew's formula "
                "ships it) or point PKG_CONFIG_PATH at a prefix that has it${otherwise}.")
        endif()
        list(APPEND archives "${archive}")
        list(APPEND named "${name}=${archive}")
        unset(archive)
    endforeach()
    # Every archive must hold every architecture of the build. When some do not, one message
    # names them and the build that all of them can serve.
    if(CMAKE_OSX_ARCHITECTURES)
        set(lacking "")
        set(wanted "")
        set(common "${CMAKE_OSX_ARCHITECTURES}")
        set(first TRUE)
        foreach(entry IN LISTS named)
            string(REGEX MATCH "^([^=]*)=(.*)$" _ "${entry}")
            set(name "${CMAKE_MATCH_1}")
            helpers_archive_architectures("${CMAKE_MATCH_2}" held)
            if(NOT held)
                continue()
            endif()
            set(missing "")
            foreach(arch IN LISTS CMAKE_OSX_ARCHITECTURES)
                if(NOT arch IN_LIST held)
                    list(APPEND missing "${arch}")
                endif()
            endforeach()
            if(first)
                set(common "${held}")
                set(first FALSE)
            else()
                string(REPLACE ";" "|" alternatives "${held}")
                list(FILTER common INCLUDE REGEX "^(${alternatives})$")  # what all hold so far
            endif()
            if(missing)
                string(REPLACE ";" " " has "${held}")
                string(REPLACE ";" " and " lacks "${missing}")
                list(APPEND lacking "lib${name}.a (needed by ${module}) holds ${has}, not ${lacks}")
                list(APPEND wanted "${name}")
            endif()
        endforeach()
        if(lacking)
            string(REPLACE ";" "; " lacking "${lacking}")
            string(REPLACE ";" " and " wanted "${wanted}")
            string(REPLACE ";" " " all "${CMAKE_OSX_ARCHITECTURES}")
            set(rebuild "PKG_CONFIG_PATH at ${wanted} built for ${all}")
            string(APPEND rebuild " (the README's macOS section says how)${otherwise}")
            if(common)
                set(instead "Configure a build for what they all hold, ")
                string(APPEND instead "-DCMAKE_OSX_ARCHITECTURES=\"${common}\", or point ${rebuild}")
            else()
                set(instead "Point ${rebuild}")
            endif()
            message(FATAL_ERROR
                "This build is for ${all} (CMAKE_OSX_ARCHITECTURES), but ${lacking}. ${instead}.")
        endif()
    endif()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${${prefix}_STATIC_INCLUDE_DIRS}"
        INTERFACE_LINK_LIBRARIES "${archives}")
endfunction()
