# Reliability builds, all off by default:
#   VENDRAL_SANITIZE  everything under AddressSanitizer + UndefinedBehaviorSanitizer,
#                     any finding fatal (no vendral.mex: Octave itself is not sanitized)
#   VENDRAL_TSAN      everything under ThreadSanitizer (clang); it cannot be combined
#                     with AddressSanitizer, so it is a build of its own
#   VENDRAL_FUZZ      the libFuzzer target fuzz/vendral_fuzz_call (clang only)
#   VENDRAL_COVERAGE  clang source-based coverage instrumentation
# Included from the top-level CMakeLists.txt before any target is defined, so
# the flags reach every target.
if(WIN32)
  return()  # the Windows cross build has neither the built-in host nor the tests
endif()

option(VENDRAL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VENDRAL_TSAN "Build with ThreadSanitizer" OFF)
option(VENDRAL_FUZZ "Build the libFuzzer target (clang)" OFF)
option(VENDRAL_COVERAGE "Instrument for clang source-based coverage" OFF)

if(VENDRAL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
  set(VENDRAL_BUILD_OCTAVE_MODULE OFF)
endif()

if(VENDRAL_TSAN)
  if(VENDRAL_SANITIZE OR VENDRAL_FUZZ)
    message(FATAL_ERROR "VENDRAL_TSAN cannot be combined with VENDRAL_SANITIZE or VENDRAL_FUZZ")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
  set(VENDRAL_BUILD_OCTAVE_MODULE OFF)
endif()

if(VENDRAL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VENDRAL_FUZZ needs clang (libFuzzer): configure with CXX=clang++-14")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
  set(VENDRAL_BUILD_OCTAVE_MODULE OFF)
endif()

if(VENDRAL_COVERAGE)
  add_compile_options(-fprofile-instr-generate -fcoverage-mapping)
  add_link_options(-fprofile-instr-generate)
  set(VENDRAL_BUILD_OCTAVE_MODULE OFF)
endif()

if(VENDRAL_SANITIZE OR VENDRAL_TSAN OR VENDRAL_FUZZ OR VENDRAL_COVERAGE)
  set(VENDRAL_INSTRUMENTED ON)
endif()

# Targets named here but defined later in the top-level file (vendral_builtin)
# resolve when the build is generated. Testing is enabled first so that the
# stress test registers in this early subdirectory.
if(BUILD_TESTING)
  enable_testing()
endif()
add_subdirectory(${PROJECT_SOURCE_DIR}/reliability ${PROJECT_BINARY_DIR}/reliability)
if(VENDRAL_FUZZ)
  add_subdirectory(${PROJECT_SOURCE_DIR}/fuzz ${PROJECT_BINARY_DIR}/fuzz)
endif()
