# cmake -DBUILD_DIR=... -DPREFIX=... [-DCONFIG=...] [-DEXPECTED_FILES=a;b] -P InstallIntoPrefix.cmake
# Starts from an empty prefix: a file left over from an earlier run must not hide a
# missing install rule.
foreach(var BUILD_DIR PREFIX)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "${var} is not set")
    endif()
endforeach()

file(REMOVE_RECURSE "${PREFIX}")
set(configArgs "")
if(CONFIG)
    set(configArgs --config "${CONFIG}")
endif()
execute_process(
    COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" ${configArgs}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(file IN LISTS EXPECTED_FILES)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "cmake --install did not install ${file}")
    endif()
endforeach()
