# One version for the programs and the packages: project() holds it, and a
# git checkout appends how far it is from there (commit count, then what
# `git describe` says), so that every later build is seen as an upgrade.
# Read at configure time; scripts/build.sh configures on every run.
# -DPRU_VERSION=... sets it outright (a package check's older build).
if(NOT PRU_VERSION)
  set(PRU_VERSION ${PROJECT_VERSION})
  find_package(Git QUIET)
  if(GIT_FOUND AND EXISTS ${CMAKE_SOURCE_DIR}/.git)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=8
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE described
                    OUTPUT_VARIABLE describe OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${GIT_EXECUTABLE} rev-list --count HEAD
                    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} RESULT_VARIABLE counted
                    OUTPUT_VARIABLE commits OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(described EQUAL 0 AND counted EQUAL 0)
      string(REGEX REPLACE "[^A-Za-z0-9.]" "." describe "${describe}")
      set(PRU_VERSION "${PROJECT_VERSION}+git${commits}.${describe}")
    endif()
  endif()
endif()
message(STATUS "Version: ${PRU_VERSION}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/PruVersion.h.in ${CMAKE_BINARY_DIR}/generated/PruVersion.h @ONLY)
add_library(pru_version INTERFACE)
target_include_directories(pru_version INTERFACE ${CMAKE_BINARY_DIR}/generated)
