# cmake -DPREFIX=... -DLIBDIR=... -DPKG_CONFIG=... -DCXX=... -DHEADER_DIR=... -DSOURCE=...
#       -DWORK_DIR=... [-DEXTRA_FLAGS=a|b] -P BuildWithPkgConfig.cmake
# Compiles every library header and a program that calls the library with nothing but
# what `pkg-config tolvane` gives, links it, and runs it.
include(${CMAKE_CURRENT_LIST_DIR}/ScriptSupport.cmake)
require_variables(PREFIX LIBDIR PKG_CONFIG CXX HEADER_DIR SOURCE WORK_DIR)
string(REPLACE "|" ";" extraFlags "${EXTRA_FLAGS}")

set(pcDir "${PREFIX}/${LIBDIR}/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "${pcDir}")

# A tolvane.pc from elsewhere (an installed package, say) must not stand in for ours.
run("${PKG_CONFIG}" --variable=pcfiledir tolvane)
file(REAL_PATH "${output}" foundPcDir)
file(REAL_PATH "${pcDir}" expectedPcDir)
if(NOT foundPcDir STREQUAL expectedPcDir)
    message(FATAL_ERROR "pkg-config used ${foundPcDir}, not ${expectedPcDir}")
endif()
# Nor a system libtolvane.a for a missing one.
run("${PKG_CONFIG}" --variable=libdir tolvane)
if(NOT EXISTS "${output}/libtolvane.a")
    message(FATAL_ERROR "no libtolvane.a in the libdir named by tolvane.pc: ${output}")
endif()

run("${PKG_CONFIG}" --cflags tolvane)
separate_arguments(cflags UNIX_COMMAND "${output}")
run("${PKG_CONFIG}" --libs tolvane)
separate_arguments(libs UNIX_COMMAND "${output}")

# Every class header in the source tree, each reached through the installed include path
# only: this directory holds none of them.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
file(GLOB headers RELATIVE "${HEADER_DIR}" "${HEADER_DIR}/*.h")
if(NOT headers)
    message(FATAL_ERROR "no headers found in ${HEADER_DIR}")
endif()
set(includes "")
foreach(header IN LISTS headers)
    string(APPEND includes "#include \"${header}\"\n")
endforeach()
file(WRITE "${WORK_DIR}/all_headers.cpp" "${includes}")

# Users build with warnings on; the public headers must not trip them.
run("${CXX}" -std=c++17 -Wall -Wextra -Werror ${extraFlags} ${cflags}
    -o "${WORK_DIR}/consumer" "${SOURCE}" "${WORK_DIR}/all_headers.cpp" ${libs})

run_consumer("${WORK_DIR}/consumer")
if(NOT output MATCHES "libtolvane \\[[^]]+\\] V[0-9]+\\.[0-9]+\\.[0-9]+")
    message(FATAL_ERROR "no library banner in:\n${output}")
endif()
