# Runs the CUDA build of velmora-render for one frame, in a fresh folder of
# its own, and checks how it ends.  Without a usable GPU (as on the build
# machines) the tool finds no device before it starts the host layer: one
# line in its own words on standard error, nothing on standard output, exit
# code 1, and no picture.  (The host layer's own report of that failure, the
# "line 37" message, is what the viewer velmora-cuda shows; the window tests
# check it there.)  With a GPU the frame is written and the exit code is 0.
string(RANDOM LENGTH 12 suffix)
set(tmp_root "$ENV{TMPDIR}")
if(tmp_root STREQUAL "")
  set(tmp_root "/tmp")
endif()
set(work "${tmp_root}/velmora-cuda-render-${suffix}")
file(MAKE_DIRECTORY "${work}")
execute_process(COMMAND ${RENDER} --out frame.png WORKING_DIRECTORY "${work}"
  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(picture_written FALSE)
if(EXISTS "${work}/frame.png")
  set(picture_written TRUE)
endif()
file(REMOVE_RECURSE "${work}")

if(code STREQUAL "0")
  if(NOT picture_written)
    message(FATAL_ERROR "exit code 0 but no picture\nstdout: [${out}]\nstderr: [${err}]")
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
if(NOT err MATCHES "^velmora-render-cuda: [^\n]+\n$")
  message(FATAL_ERROR "unexpected standard error: [${err}]")
endif()
if(picture_written)
  message(FATAL_ERROR "a picture was left behind after the failure")
endif()
message(STATUS "ended as expected without a GPU: ${err}")
