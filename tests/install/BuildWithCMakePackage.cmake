# cmake -DPREFIX=... -DGENERATOR=... -DCXX=... -DPROJECT_DIR=... -DSOURCE=... -DWORK_DIR=...
#       [-DEXTRA_FLAGS=a|b] -P BuildWithCMakePackage.cmake
# Builds and runs the same program through find_package(Tolvane) and Tolvane::tolvane.
include(${CMAKE_CURRENT_LIST_DIR}/ScriptSupport.cmake)
require_variables(PREFIX GENERATOR CXX PROJECT_DIR SOURCE WORK_DIR)
string(REPLACE "|" " " extraFlags "${EXTRA_FLAGS}")

file(REMOVE_RECURSE "${WORK_DIR}")
run("${CMAKE_COMMAND}" -S "${PROJECT_DIR}" -B "${WORK_DIR}" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DEXPECTED_PREFIX=${PREFIX}"
    "-DCONSUMER_SOURCE=${SOURCE}" "-DCMAKE_CXX_FLAGS=${extraFlags}"
    "-DCMAKE_EXE_LINKER_FLAGS=${extraFlags}" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
run("${CMAKE_COMMAND}" --build "${WORK_DIR}")

run_consumer("${WORK_DIR}/consumer")
