# Runs the CUDA probe and checks how it ends.  Without a usable GPU (as on
# the build machines) gpu_init's first allocation fails: exactly one line
# "Cuda error in file 'rtlib.cu' in line 37 : <runtime's text>." on standard
# error, nothing on standard output, exit code 1.  With a GPU the frame is
# rendered: one "Processing time" line and exit code 0.
execute_process(COMMAND ${PROBE}
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(code STREQUAL "0")
  if(NOT out MATCHES "^Processing time: [0-9]+\\.[0-9][0-9][0-9][0-9][0-9][0-9] \\(ms\\) \n$" OR NOT err STREQUAL "")
    message(FATAL_ERROR "probe rendered, but printed\nstdout: [${out}]\nstderr: [${err}]")
  endif()
  message(STATUS "GPU present: frame rendered")
  return()
endif()
if(NOT code STREQUAL "1")
  message(FATAL_ERROR "exit code ${code}, expected 1\nstdout: [${out}]\nstderr: [${err}]")
endif()
if(NOT out STREQUAL "")
  message(FATAL_ERROR "unexpected standard output: [${out}]")
endif()
if(NOT err MATCHES "^Cuda error in file 'rtlib\\.cu' in line 37 : [^\n]+\\.\n$")
  message(FATAL_ERROR "unexpected standard error: [${err}]")
endif()
message(STATUS "probe ended as expected: ${err}")
