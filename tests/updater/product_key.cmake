# Run by ctest: cmake -DSOURCE=<repository> -DBINARY=<scratch folder> -DGENERATOR=<generator> -DCXX=<compiler>
#                     -P product_key.cmake
# Configures the toolkit-free core without tests, which takes seconds, and reads the generated config header.
file(REMOVE_RECURSE ${BINARY})
file(STRINGS ${SOURCE}/tools/update-sign/demo-key/update-public.hex demo_key LIMIT_COUNT 1)
set(header_file ${BINARY}/generated/vextal_config.h)

function(configure expect_success)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX}
                          -DVEXTAL_CORE_ONLY=ON -DVEXTAL_BUILD_TESTS=OFF ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(expect_success AND NOT status EQUAL 0)
    message(FATAL_ERROR "configure ${ARGN} failed:\n${output}")
  elseif(NOT expect_success AND status EQUAL 0)
    message(FATAL_ERROR "configure ${ARGN} succeeded but should have refused")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

function(expect_key key what)
  file(READ ${header_file} header)
  if(NOT header MATCHES "kUpdatePublicKey = \"${key}\";")
    message(FATAL_ERROR "${what}: the config header holds another update key:\n${header}")
  endif()
endfunction()

configure(TRUE)
expect_key("" "the product configuration")
file(READ ${header_file} header)
string(FIND "${header}" "${demo_key}" found)
if(NOT found EQUAL -1)
  message(FATAL_ERROR "the product configuration carries the demo key")
endif()

# Its value, even in capitals, never passes as a release key.
string(TOUPPER ${demo_key} demo_key_upper)
configure(FALSE -DVEXTAL_UPDATE_PUBLIC_KEY=${demo_key_upper})
if(NOT output MATCHES "demo key")
  message(FATAL_ERROR "the demo key's value was refused, but not for being the demo key:\n${output}")
endif()

configure(TRUE -DVEXTAL_UPDATE_PUBLIC_KEY= -DVEXTAL_DEMO_UPDATE_KEY=ON)
expect_key(${demo_key} "the demo configuration")

# The version the updater compares part by part: written as given, and refused when it is not dotted numbers.
configure(TRUE -DVEXTAL_VERSION=3.10.2)
file(READ ${header_file} header)
if(NOT header MATCHES "kVersionText = \"3\\.10\\.2\";")
  message(FATAL_ERROR "the config header does not carry VEXTAL_VERSION 3.10.2:\n${header}")
endif()
foreach(not_a_version "3.1-beta" "3.01" "3..1" "1.2.3.4.5" "")
  configure(FALSE "-DVEXTAL_VERSION=${not_a_version}")
endforeach()
file(REMOVE_RECURSE ${BINARY})
