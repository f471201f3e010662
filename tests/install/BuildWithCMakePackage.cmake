# cmake -DPREFIX=... -DGENERATOR=... -DCXX=... -DPROJECT_DIR=... -DSOURCE=... -DWORK_DIR=...
#       [-DEXTRA_FLAGS=a|b] -P BuildWithCMakePackage.cmake
# Builds and runs the same program through find_package(Tolvane) and Tolvane::tolvane.
foreach(var PREFIX GENERATOR CXX PROJECT_DIR SOURCE WORK_DIR)
    if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()
string(REPLACE "|" " " extraFlags "${EXTRA_FLAGS}")

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
        ERROR_VARIABLE errors OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "${command}\nfailed (${result}):\n${output}\n${errors}")
    endif()
    set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" -S "${PROJECT_DIR}" -B "${WORK_DIR}" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DEXPECTED_PREFIX=${PREFIX}"
    "-DCONSUMER_SOURCE=${SOURCE}" "-DCMAKE_CXX_FLAGS=${extraFlags}"
    "-DCMAKE_EXE_LINKER_FLAGS=${extraFlags}" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}")

run("${WORK_DIR}/consumer")
if(NOT output MATCHES "acknowledgement: 06 30 30 30 37 30")
    message(FATAL_ERROR "wrong acknowledgement in:\n${output}")
endif()
message(STATUS "${output}")
