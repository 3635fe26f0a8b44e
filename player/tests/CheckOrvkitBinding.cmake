cmake_policy(VERSION 3.25)
# Checks that the program binds liborvkit when it is loaded: the library is a needed entry found
# beside the program ($ORIGIN), and the two routines the program calls are imported by name.
#   cmake -DREADELF=<readelf> -DNM=<nm> -DPROGRAM=<tunedeck> -P CheckOrvkitBinding.cmake
execute_process(COMMAND ${READELF} -d ${PROGRAM} OUTPUT_VARIABLE dynamic RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "readelf failed on ${PROGRAM}")
endif()
if(NOT dynamic MATCHES "\\(NEEDED\\)[^\n]*\\[liborvkit\\.so\\.[0-9]+\\]")
    message(SEND_ERROR "${PROGRAM} does not need liborvkit at load time")
endif()
if(NOT dynamic MATCHES "\\((RUNPATH|RPATH)\\)[^\n]*\\$ORIGIN")
    message(SEND_ERROR "${PROGRAM} does not look for its libraries in its own folder ($ORIGIN)")
endif()

execute_process(COMMAND ${NM} -D --undefined-only ${PROGRAM} OUTPUT_VARIABLE imports)
foreach(name OrvAboutBox GoOrvaneURL)
    if(NOT imports MATCHES "U ${name}\n")
        message(SEND_ERROR "${PROGRAM} does not import ${name}")
    endif()
endforeach()
