# pru_add_test(NAME <target>
#              [SOURCES <file>...]      default: <target>.cpp
#              [LIBS <target>...]       linked PRIVATE, with Qt6::Test
#              [DEFINES <definition>...] [INCLUDES <dir>...] [DEPENDS <target>...]
#              [TIMEOUT <seconds>]      default: 120
#              [TEST_NAME <name>]       the CTest name, default: <target>
#              [GUI]                    runs on the offscreen platform
#              [LOOSE]                  without the strict string conversions
#              [ENV <VAR=value>...])
# One test executable and its CTest entry, the one way every test folder
# registers its tests. Every listed source must exist: a renamed or deleted
# test fails the configure step and is named, instead of leaving CTest quietly.
# Each test joins the target pru_tests, which builds every test and nothing else.
if(NOT TARGET pru_tests)
  add_custom_target(pru_tests)
endif()

function(pru_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 T "GUI;LOOSE" "NAME;TIMEOUT;TEST_NAME"
                        "SOURCES;LIBS;DEFINES;INCLUDES;DEPENDS;ENV")
  if(NOT T_NAME)
    message(FATAL_ERROR "pru_add_test: NAME is required")
  endif()
  if(T_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "pru_add_test(${T_NAME}): unknown arguments ${T_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT T_SOURCES)
    set(T_SOURCES ${T_NAME}.cpp)
  endif()
  foreach(source IN LISTS T_SOURCES)
    get_filename_component(path "${source}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    if(NOT EXISTS "${path}")
      message(FATAL_ERROR "pru_add_test(${T_NAME}): the source ${source} does not exist (${path})")
    endif()
  endforeach()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(NOT T_TEST_NAME)
    set(T_TEST_NAME ${T_NAME})
  endif()

  add_executable(${T_NAME} ${T_SOURCES})
  if(NOT T_LOOSE)
    target_compile_definitions(${T_NAME} PRIVATE ${PRU_STRICT_DEFINES})
  endif()
  target_compile_definitions(${T_NAME} PRIVATE ${T_DEFINES})
  target_include_directories(${T_NAME} PRIVATE ${T_INCLUDES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Test)
  if(T_DEPENDS)
    add_dependencies(${T_NAME} ${T_DEPENDS})
  endif()
  add_dependencies(pru_tests ${T_NAME} ${T_DEPENDS})

  add_test(NAME ${T_TEST_NAME} COMMAND ${T_NAME})
  set(environment ${T_ENV})
  if(T_GUI)
    list(APPEND environment QT_QPA_PLATFORM=offscreen)
  endif()
  set_tests_properties(${T_TEST_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(environment)
    set_tests_properties(${T_TEST_NAME} PROPERTIES ENVIRONMENT "${environment}")
  endif()
endfunction()
