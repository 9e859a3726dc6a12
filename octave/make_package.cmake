# Writes BINARY_DIR/vendral-VERSION.tar.gz, the Octave package that
# `pkg install` compiles with mkoctfile --mex. Run by the octave-package
# target: cmake -DSOURCE_DIR=... -DBINARY_DIR=... -DVERSION=... -DSOURCE_FLAGS=<file>
# -P make_package.cmake (SOURCE_FLAGS: the Makefile's compiler options, written
# from the CMake lists by octave/CMakeLists.txt).
# Sources and functions are gathered from the tree at every run, so files
# added later need no edit here.
foreach(input SOURCE_DIR BINARY_DIR VERSION SOURCE_FLAGS)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "make_package.cmake needs -D${input}=...")
  endif()
endforeach()

set(package_name vendral-${VERSION})
set(stage_root ${BINARY_DIR}/octave-package)
set(stage ${stage_root}/${package_name})
set(tarball ${BINARY_DIR}/${package_name}.tar.gz)
set(package_files ${SOURCE_DIR}/octave/package)

file(REMOVE_RECURSE ${stage_root})
file(MAKE_DIRECTORY ${stage}/inst ${stage}/src)

# The module's C++ sources, in their folders (host/ includes "classifier/..."),
# and the linker's version script.
foreach(folder host classifier)
  file(COPY ${SOURCE_DIR}/${folder} DESTINATION ${stage}/src
       FILES_MATCHING PATTERN "*.cpp" PATTERN "*.h" PATTERN "*.hpp" PATTERN "*.inc" PATTERN "*.map")
endforeach()
file(COPY ${package_files}/Makefile DESTINATION ${stage}/src)
configure_file(${SOURCE_FLAGS} ${stage}/src/source_flags.mk COPYONLY)

# The user functions, build_vendral among them (its help at hand; it builds
# from a source tree given as its second argument); helpers that users do not
# call stay out of INDEX.
file(GLOB function_files ${SOURCE_DIR}/octave/inst/*.m)
file(COPY ${function_files} DESTINATION ${stage}/inst)
file(COPY ${SOURCE_DIR}/data/iris.csv DESTINATION ${stage}/inst)
set(index_functions "")
foreach(file ${function_files})
  get_filename_component(function ${file} NAME_WE)
  if(NOT function MATCHES "_chunk$")
    string(APPEND index_functions " ${function}")
  endif()
endforeach()
file(WRITE ${stage}/INDEX "vendral >> Parzen-window classifier\nClassification\n${index_functions}\n")

# The user's guide and the pages it links to, with their relative links
# intact: pkg install keeps doc/ in the package's folder.
file(MAKE_DIRECTORY ${stage}/doc)
configure_file(${SOURCE_DIR}/README.md ${stage}/doc/README.md COPYONLY)
file(COPY ${SOURCE_DIR}/docs DESTINATION ${stage}/doc)

string(TIMESTAMP DATE "%Y-%m-%d" UTC)
configure_file(${package_files}/DESCRIPTION.in ${stage}/DESCRIPTION @ONLY)
file(COPY ${package_files}/post_install.m DESTINATION ${stage})

# The licence travels as COPYING, made from the top LICENSE file: one text.
if(NOT EXISTS ${SOURCE_DIR}/LICENSE)
  message(FATAL_ERROR "no LICENSE at the top of ${SOURCE_DIR}")
endif()
configure_file(${SOURCE_DIR}/LICENSE ${stage}/COPYING COPYONLY)

file(REMOVE ${tarball})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar czf ${tarball} ${package_name}
                WORKING_DIRECTORY ${stage_root} RESULT_VARIABLE tar_result)
if(NOT tar_result EQUAL 0)
  message(FATAL_ERROR "could not write ${tarball}")
endif()
message(STATUS "Octave package: ${tarball}")
