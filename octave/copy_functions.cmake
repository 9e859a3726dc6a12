# Puts the user functions and the Iris data next to build/vendral.mex, so that
# addpath of the build folder gives calls, help texts and examples together.
# cmake -DSOURCE_DIR=... -DDESTINATION=... -P copy_functions.cmake
file(GLOB function_files ${SOURCE_DIR}/octave/inst/*.m)
foreach(file ${function_files} ${SOURCE_DIR}/data/iris.csv)
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${DESTINATION}/${name} COPYONLY)
endforeach()
