# The file properties and icon Windows shows for a program of the project (Explorer's Details tab, Task Manager, the
# Start menu): a VERSIONINFO resource built from VEXTAL_VERSION and the icon, compiled by windres through CMake's RC
# language, which CMake enables by itself for a mingw or MSVC build. Elsewhere the call does nothing.
#
#   vextal_windows_resources(<target> ICON <file.ico> DESCRIPTION <text>)
#
# DESCRIPTION is the FileDescription, the name Task Manager lists the running program under.
include_guard(GLOBAL)

function(vextal_windows_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "ICON;DESCRIPTION" "")
  if(arg_UNPARSED_ARGUMENTS OR NOT arg_ICON OR NOT arg_DESCRIPTION)
    message(FATAL_ERROR "vextal_windows_resources(<target> ICON <file.ico> DESCRIPTION <text>), "
                        "not (${target} ${ARGN})")
  endif()
  if(NOT WIN32)
    return()
  endif()
  if(NOT TARGET ${target})
    message(FATAL_ERROR "vextal_windows_resources: no target ${target}")
  endif()
  cmake_path(ABSOLUTE_PATH arg_ICON BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  if(NOT EXISTS ${arg_ICON})
    message(FATAL_ERROR "vextal_windows_resources: no icon ${arg_ICON} (app/resources/draw-icons draws them)")
  endif()

  # The binary version has four 16-bit parts where the text has one to four numbers of up to nine digits.
  string(REPLACE "." ";" parts "${VEXTAL_VERSION}")
  list(LENGTH parts count)
  if(count LESS 1 OR count GREATER 4)
    message(FATAL_ERROR "vextal_windows_resources: VEXTAL_VERSION \"${VEXTAL_VERSION}\" is not one to four numbers")
  endif()
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  foreach(part IN LISTS parts)
    if(NOT part MATCHES "^[0-9]+$" OR part GREATER 65535)
      message(FATAL_ERROR "VEXTAL_VERSION \"${VEXTAL_VERSION}\" does not fit a Windows file version: "
                          "each number must be at most 65535")
    endif()
  endforeach()
  list(JOIN parts "," VEXTAL_RC_VERSION_BINARY)
  set(VEXTAL_RC_VERSION_TEXT "${VEXTAL_VERSION}")
  set(VEXTAL_RC_DESCRIPTION "${arg_DESCRIPTION}")
  # windres reads the path as a C string: backslashes (a Windows source folder) would be escapes.
  string(REPLACE "\\" "/" VEXTAL_RC_ICON "${arg_ICON}")
  if(VEXTAL_RC_ICON MATCHES "\"" OR VEXTAL_RC_DESCRIPTION MATCHES "[\"\\\\]")
    message(FATAL_ERROR "vextal_windows_resources: no quotes or backslashes in the icon path or the description")
  endif()

  # The file name comes from the target's OUTPUT_NAME and SUFFIX, which may be set after this call: configure_file
  # fills in the text, file(GENERATE) the name once every property is known.
  set(configured ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc.in)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)
  # The template is found from this file's folder, not a variable: the include guard leaves a variable set only in the
  # first including folder's scope, and the programs' folders are siblings.
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/windows_resources.rc.in ${configured} @ONLY)
  file(GENERATE OUTPUT ${generated} INPUT ${configured})
  set_source_files_properties(${generated} PROPERTIES GENERATED TRUE OBJECT_DEPENDS ${arg_ICON})
  target_sources(${target} PRIVATE ${generated})
endfunction()
