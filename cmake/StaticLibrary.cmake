# Linking a pkg-config module from its static archives (the macOS programs); needs PkgConfig.

# Names in a pkg-config static list that are the operating system's own on a Mac (libSystem).
set(HELPERS_SYSTEM_LIBRARIES m c dl pthread System)

# lipo tells a Mach-O file's architectures: Xcode's on a Mac, LLVM's elsewhere (configure tests).
file(GLOB _helpers_llvm_bins /usr/lib/llvm-*/bin)
find_program(HELPERS_LIPO NAMES lipo llvm-lipo HINTS ${_helpers_llvm_bins})

# Stops the configure unless `archive` holds every architecture of the build
# (CMAKE_OSX_ARCHITECTURES), naming the build that it can serve instead. `otherwise` is one more
# way out for the message.
function(helpers_check_architectures archive module otherwise)
    if(NOT CMAKE_OSX_ARCHITECTURES)
        return()
    endif()
    if(NOT HELPERS_LIPO)
        message(WARNING "No lipo (Xcode's command line tools): the architectures of ${archive} "
                        "are left to the linker to check")
        return()
    endif()
    execute_process(COMMAND "${HELPERS_LIPO}" -archs "${archive}" RESULT_VARIABLE failed
                    OUTPUT_VARIABLE found ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(failed)
        # Not an archive lipo can read (yet): the link will say more than a guess here could.
        message(WARNING "lipo cannot read ${archive} (needed by ${module}): ${error}")
        return()
    endif()
    separate_arguments(found UNIX_COMMAND "${found}")
    set(missing "")
    foreach(arch IN LISTS CMAKE_OSX_ARCHITECTURES)
        if(NOT arch IN_LIST found)
            list(APPEND missing "${arch}")
        endif()
    endforeach()
    if(missing)
        string(REPLACE ";" " " has "${found}")
        string(REPLACE ";" " and " lacks "${missing}")
        string(REPLACE ";" "\\;" only "${found}")
        message(FATAL_ERROR
            "${archive} (needed by ${module}) holds ${has}, not ${lacks}, which this build "
            "(CMAKE_OSX_ARCHITECTURES=${CMAKE_OSX_ARCHITECTURES}) is for. Configure a build for "
            "what it holds, -DCMAKE_OSX_ARCHITECTURES=\"${only}\", or point PKG_CONFIG_PATH at "
            "${module} built for ${lacks} (the README's macOS section says how)${otherwise}.")
    endif()
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
        helpers_check_architectures("${archive}" "${module}" "${otherwise}")
        list(APPEND archives "${archive}")
        unset(archive)
    endforeach()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${${prefix}_STATIC_INCLUDE_DIRS}"
        INTERFACE_LINK_LIBRARIES "${archives}")
endfunction()
