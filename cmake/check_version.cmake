# The version is set once, by project() in CMakeLists.txt; the package's
# DESCRIPTION is generated from it, and the texts that state it must agree:
# help vendral, the user's guide (README.md and docs/octave.md: package file
# names, the version line) and CITATION.cff. Fails naming every place that differs.
# cmake -DSOURCE_DIR=... -DVERSION=... -P check_version.cmake
foreach(input SOURCE_DIR VERSION)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "check_version.cmake needs -D${input}=...")
  endif()
endforeach()

set(drift "")
# Every "vendral X.Y.Z" or "vendral-X.Y.Z" in a file, at least one of them.
function(check_mentions file)
  file(READ ${SOURCE_DIR}/${file} text)
  string(REGEX MATCHALL "vendral[ -][0-9]+\\.[0-9]+\\.[0-9]+" mentions "${text}")
  if(NOT mentions)
    string(APPEND drift "  ${file}: states no version\n")
  endif()
  foreach(mention ${mentions})
    string(REGEX REPLACE "^vendral[ -]" "" stated "${mention}")
    if(NOT stated VERSION_EQUAL VERSION)
      string(APPEND drift "  ${file}: \"${mention}\"\n")
    endif()
  endforeach()
  set(drift "${drift}" PARENT_SCOPE)
endfunction()

check_mentions(README.md)
check_mentions(docs/octave.md)
check_mentions(octave/inst/vendral.m)

file(STRINGS ${SOURCE_DIR}/CITATION.cff citation_version REGEX "^version:")
if(NOT citation_version STREQUAL "version: ${VERSION}")
  string(APPEND drift "  CITATION.cff: \"${citation_version}\"\n")
endif()

if(drift)
  message(FATAL_ERROR "the project version is ${VERSION} (CMakeLists.txt), but:\n${drift}")
endif()
message(STATUS "version ${VERSION} stated consistently")
