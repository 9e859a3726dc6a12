# The module's compiler options, in one place. CMakeLists.txt and
# cmake/windows.cmake apply them; octave/make_package.cmake writes them into
# the Octave package's Makefile; build_vendral.m reads this file. So every build
# of the module compiles each source with the same options. build_vendral.m
# parses it: keep one set() per line, its values on that line.

# Results must not depend on the build: no contraction of a*b+c into an FMA,
# no value-changing optimisations. -Wno-psabi: the eight-lane vector helpers
# are inline, so no call passes them across an ABI boundary.
set(VENDRAL_MODULE_FLAGS -ffp-contract=off -fno-fast-math -Wno-psabi)
# Warnings: the CMake builds only (they change no result).
set(VENDRAL_WARNING_FLAGS -Wall -Wextra -Wpedantic)

# Built against the host's own mex.h (Octave's mkoctfile, MATLAB's mex): the
# host's declarations, C++17, the engine's threads.
set(VENDRAL_HOST_MEX_FLAGS -DVENDRAL_USE_HOST_MEX_H -std=c++17 -pthread)

# The module exports mexFunction alone: two builds loaded into one process
# would otherwise bind to each other's functions. Its names are hidden when
# compiled, and the linker's version script (a path in the source tree) keeps
# out what the standard library's headers still mark visible. For the modules
# of Octave and MATLAB; windows/vendral.def lists the Windows DLL's export.
set(VENDRAL_VISIBILITY_FLAGS -fvisibility=hidden -fvisibility-inlines-hidden)
set(VENDRAL_EXPORTS_SCRIPT host/exports.map)

# Per source: errno is never read, and without it sqrt in the vector loops is
# one instruction; results are unchanged.
set(VENDRAL_FLAGS_classifier/tiles/fast_kernels.cpp -fno-math-errno)
# Fused multiply-adds where the processor has them, in the sources whose
# bounds hold fused or not (each says why): the dot products, the power sums
# and roots (lane_math.cpp holds the roots' test entry points, so the tests
# meet the same code), the exp polynomial.
set(VENDRAL_FLAGS_classifier/tiles/fast_distance.cpp -fno-math-errno -ffp-contract=fast)
set(VENDRAL_FLAGS_classifier/lanes/lane_math.cpp -fno-math-errno -ffp-contract=fast)
set(VENDRAL_FLAGS_classifier/tiles/gram_distance.cpp -fno-math-errno -ffp-contract=fast)
set(VENDRAL_FLAGS_classifier/tiles/exp_kernels.cpp -fno-math-errno -ffp-contract=fast)
