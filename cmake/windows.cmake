# The legacy module for the MATLAB 5.x host on Windows, cross-built with
# MinGW-w64 (see cmake/mingw-i686.cmake): vendral.dll, and MATLAB.EXE, the
# built-in host for Windows that loads the DLL and runs the module's tests.
# Included from the top-level CMakeLists.txt instead of the Octave module and
# the GoogleTest suite, which do not build for Windows.
enable_language(RC)

option(VENDRAL_BUILD_WINDOWS_TEST_HOST "Build MATLAB.EXE, the test host that loads vendral.dll" ON)

set(vendral_windows_cxx_options ${VENDRAL_WARNING_FLAGS} ${VENDRAL_MODULE_FLAGS})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # x87 arithmetic keeps extra precision in registers, which changes the exact
  # comparisons of class scores; SSE2 decides like every other build. The host
  # (built with MSVC) keeps the stack only 4-byte aligned: realign where needed.
  list(APPEND vendral_windows_cxx_options -msse2 -mfpmath=sse -mincoming-stack-boundary=2)
endif()

# Compile options go to C++ only: CMake would hand them to windres too.
# The engine runs on one thread: the win32 thread model has no std::thread, and
# the posix one would add a runtime DLL. No C++ runtime DLLs either.
function(vendral_windows_target target)
  target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${vendral_windows_cxx_options}>")
  target_compile_definitions(${target} PRIVATE VENDRAL_SINGLE_THREAD)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_options(${target} PRIVATE -static-libgcc -static-libstdc++ -s)
endfunction()

# The host operations, imported by name from MATLAB.EXE through an import
# library made from the module-definition file.
set(vendral_host_def ${PROJECT_SOURCE_DIR}/windows/matlab_host.def)
set(vendral_host_imports ${PROJECT_BINARY_DIR}/libmatlab_host.a)
add_custom_command(
  OUTPUT ${vendral_host_imports}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${vendral_host_def} --dllname MATLAB.EXE
          --output-lib ${vendral_host_imports}
  DEPENDS ${vendral_host_def}
  COMMENT "Import library for the host operations of MATLAB.EXE"
  VERBATIM)
add_custom_target(vendral_host_import_library DEPENDS ${vendral_host_imports})

add_library(vendral_dll SHARED ${VENDRAL_HOST_SOURCES} ${VENDRAL_CLASSIFIER_SOURCES}
                               resources/vendral.rc windows/vendral.def)
vendral_windows_target(vendral_dll)
add_dependencies(vendral_dll vendral_host_import_library)
target_link_libraries(vendral_dll PRIVATE ${vendral_host_imports})
set_target_properties(vendral_dll PROPERTIES
  OUTPUT_NAME vendral PREFIX "" SUFFIX ".dll"
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib
  LINK_DEPENDS ${vendral_host_imports})

# MATLAB.EXE for tests: the built-in host, exporting exactly the host
# operations, with the runner that loads the DLL. An error raised by the host
# ends the call with a C++ exception through the DLL's frames, or, where that
# cannot work (32-bit: one DWARF unwinder per module), with a longjmp.
function(vendral_windows_test_host target directory end_call_with_longjmp)
  add_executable(${target}
    builtin_host/arrays.cpp
    builtin_host/session.cpp
    windows/runner/harness.cpp
    windows/runner/main.cpp
    windows/runner/module_calls.cpp
    windows/runner/test_messages.cpp
    windows/runner/test_reference.cpp
    windows/runner/test_runs.cpp
    windows/runner/test_version_stamp.cpp
    tests/reference_classifier.cpp)
  vendral_windows_target(${target})
  if(end_call_with_longjmp)
    target_compile_definitions(${target} PRIVATE VENDRAL_BUILTIN_HOST_ENDS_CALL_WITH_LONGJMP)
  endif()
  target_link_options(${target} PRIVATE ${vendral_host_def})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME MATLAB SUFFIX ".EXE"
    RUNTIME_OUTPUT_DIRECTORY ${directory}
    LINK_DEPENDS ${vendral_host_def})
endfunction()

if(VENDRAL_BUILD_WINDOWS_TEST_HOST)
  # A DLL that imports mxMalloc from MATLAB.EXE besides the host operations,
  # for the test that scripts/check_windows_dll.py refuses it.
  set(undeclared_dir ${PROJECT_BINARY_DIR}/undeclared_import)
  file(READ ${vendral_host_def} host_operations)
  file(GENERATE OUTPUT ${undeclared_dir}/matlab_host.def CONTENT "${host_operations}    mxMalloc\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${vendral_host_def})
  add_custom_command(
    OUTPUT ${undeclared_dir}/libmatlab_host.a
    COMMAND ${CMAKE_DLLTOOL} --input-def ${undeclared_dir}/matlab_host.def --dllname MATLAB.EXE
            --output-lib ${undeclared_dir}/libmatlab_host.a
    DEPENDS ${undeclared_dir}/matlab_host.def
    VERBATIM)
  add_custom_target(vendral_undeclared_import_library DEPENDS ${undeclared_dir}/libmatlab_host.a)
  add_library(vendral_undeclared_import SHARED windows/fixtures/undeclared_import.cpp
                                              resources/vendral.rc windows/vendral.def)
  vendral_windows_target(vendral_undeclared_import)
  add_dependencies(vendral_undeclared_import vendral_undeclared_import_library)
  target_link_libraries(vendral_undeclared_import PRIVATE ${undeclared_dir}/libmatlab_host.a)
  set_target_properties(vendral_undeclared_import PROPERTIES
    OUTPUT_NAME vendral PREFIX "" SUFFIX ".dll"
    RUNTIME_OUTPUT_DIRECTORY ${undeclared_dir}
    ARCHIVE_OUTPUT_DIRECTORY ${undeclared_dir}/lib
    LINK_DEPENDS ${undeclared_dir}/libmatlab_host.a)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    vendral_windows_test_host(vendral_test_host ${PROJECT_BINARY_DIR} TRUE)
  else()
    vendral_windows_test_host(vendral_test_host ${PROJECT_BINARY_DIR} FALSE)
    vendral_windows_test_host(vendral_test_host_longjmp ${PROJECT_BINARY_DIR}/longjmp TRUE)
  endif()
endif()
