# The product needs only a C++17 compiler, CMake, pkg-config and libusb-1.0. The parts
# below need more; each has a setting: AUTO builds it when what it needs is found, ON
# insists on it, OFF leaves it out without looking. Configure says what became of each.

# tolvane_optional_part(<setting> <what> <needs> <target> <find command...>)
#   Declares the cache setting <setting> (default AUTO). Unless it is OFF, runs the find
#   command; the part is built when the imported <target> then exists. Sets
#   <setting>_ENABLED for the caller.
function(tolvane_optional_part setting what needs target)
    set(${setting} AUTO CACHE STRING "Build ${what}: AUTO (when ${needs} is found), ON or OFF")
    set_property(CACHE ${setting} PROPERTY STRINGS AUTO ON OFF)
    set(wanted FALSE)
    if(${setting} STREQUAL "AUTO" OR ${setting})
        set(wanted TRUE)
        list(POP_FRONT ARGN findCommand)
        cmake_language(CALL ${findCommand} ${ARGN})
    endif()

    if(wanted AND TARGET ${target})
        message(STATUS "Building ${what}")
        set(${setting}_ENABLED TRUE PARENT_SCOPE)
        return()
    endif()
    if(NOT wanted)
        message(STATUS "Skipping ${what}: ${setting} is ${${setting}}")
    elseif(${setting} STREQUAL "AUTO")
        message(STATUS "Skipping ${what}: ${needs} not found")
    else()
        message(FATAL_ERROR "Can't build ${what}: ${needs} not found. Install it, or "
            "configure with -D${setting}=AUTO or OFF.")
    endif()
    set(${setting}_ENABLED FALSE PARENT_SCOPE)
endfunction()
