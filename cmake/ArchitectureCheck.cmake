# A macOS build without arm64 makes helpers that a Mac with Apple silicon starts only through
# Rosetta: say so at configure time, and how to build universal helpers instead.
function(helpers_check_architectures architectures)
    if(NOT "arm64" IN_LIST architectures)
        message(WARNING
            "The helpers are built for ${architectures} alone (CMAKE_OSX_ARCHITECTURES): they "
            "cannot be started on a Mac with Apple silicon without Rosetta. For universal "
            "helpers, configure with -DCMAKE_OSX_ARCHITECTURES=\"x86_64;arm64\" against "
            "universal opus and libopusenc archives (docs/macos.md).")
    endif()
endfunction()
