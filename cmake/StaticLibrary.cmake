# Linking a pkg-config module from its static archives (the macOS programs); needs PkgConfig.

# Names in a pkg-config static list that are the operating system's own on a Mac (libSystem).
set(HELPERS_SYSTEM_LIBRARIES m c dl pthread System)

# helpers_static_library(<target> <module>): an imported target that links <module> and what its
# static list brings in from their archives, with its headers. A Mac that runs the programs has no
# Homebrew, so no library may come from a dylib; an archive that is missing stops the configure.
function(helpers_static_library target module)
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
                "ships it) or point PKG_CONFIG_PATH at a prefix that has it.")
        endif()
        list(APPEND archives "${archive}")
        unset(archive)
    endforeach()
    add_library(${target} INTERFACE IMPORTED GLOBAL)
    set_target_properties(${target} PROPERTIES
        INTERFACE_INCLUDE_DIRECTORIES "${${prefix}_STATIC_INCLUDE_DIRS}"
        INTERFACE_LINK_LIBRARIES "${archives}")
endfunction()
