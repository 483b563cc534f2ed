# The product: macOS 13 or later, x86-64 unless told otherwise. Both are cache values, so
# -DCMAKE_OSX_ARCHITECTURES=arm64 or "x86_64;arm64" (universal) override them. Universal builds
# need universal copies of the libraries; Homebrew's are built for one architecture.
# Read by CMake only for Apple targets; harmless elsewhere.
set(CMAKE_OSX_DEPLOYMENT_TARGET "13.0" CACHE STRING "Oldest macOS the programs run on")
set(CMAKE_OSX_ARCHITECTURES "x86_64" CACHE STRING "Architectures of the macOS build")
