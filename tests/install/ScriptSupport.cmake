# Shared by the install test scripts (cmake -P).

# Stops unless every named variable was given with -D.
function(require_variables)
    foreach(var IN LISTS ARGN)
        if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
            message(FATAL_ERROR "${var} is not set")
        endif()
    endforeach()
endfunction()

# Runs a command, stops with its output if it fails, and leaves its standard output in
# `output`.
function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
        ERROR_VARIABLE errors OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "${command}\nfailed (${result}):\n${output}\n${errors}")
    endif()
    set(output "${output}" PARENT_SCOPE)
endfunction()

# Runs the consumer program built against the installed library and checks what it framed.
function(run_consumer program)
    run("${program}")
    if(NOT output MATCHES "acknowledgement: 06 30 30 30 37 30")
        message(FATAL_ERROR "wrong acknowledgement in:\n${output}")
    endif()
    message(STATUS "${output}")
    set(output "${output}" PARENT_SCOPE)
endfunction()
