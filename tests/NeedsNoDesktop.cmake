# cmake -DPROGRAM=path -P NeedsNoDesktop.cmake: fails when the program's
# dynamic section names Qt Gui, Widgets or OpenGL, or names no Qt Core (so
# that a failed read never passes).
execute_process(COMMAND readelf -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "readelf -d ${PROGRAM} failed: ${error}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*" needed "${dynamic}")
string(REPLACE ";" "\n" needed "${needed}")
message(STATUS "${PROGRAM} needs:\n${needed}")
if(NOT needed MATCHES "libQt6Core")
  message(FATAL_ERROR "no Qt Core among the libraries ${PROGRAM} needs: the read went wrong")
endif()
if(needed MATCHES "libQt6(Gui|Widgets|OpenGL)")
  message(FATAL_ERROR "${PROGRAM} needs ${CMAKE_MATCH_0}: the command-line program must run without a desktop")
endif()
