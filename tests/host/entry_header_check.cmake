# Fails when a device module includes host/main.h, the program's entry: the
# entry sits on top of the device, and nothing below it may reach up to it.
# The device is everything under host/ (but the entry's own main.cpp and
# entry.cpp), protocol/, gui/, commands/, cache/, codecs/ and resources/.
#
#   cmake -DSOURCE_DIR=<checkout> -P entry_header_check.cmake
if(NOT SOURCE_DIR)
  message(FATAL_ERROR "SOURCE_DIR is not set")
endif()

set(offenders "")
set(checked 0)
foreach(dir host protocol gui commands cache codecs resources)
  file(GLOB_RECURSE sources "${SOURCE_DIR}/${dir}/*.cpp" "${SOURCE_DIR}/${dir}/*.h")
  foreach(source ${sources})
    file(RELATIVE_PATH relative "${SOURCE_DIR}" "${source}")
    if(relative STREQUAL "host/main.cpp" OR relative STREQUAL "host/entry.cpp")
      continue()
    endif()
    math(EXPR checked "${checked} + 1")
    # Any spelling that names a file main.h: "host/main.h", "main.h",
    # "../host/main.h", <host/main.h>.
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*/)?main\\.h[\">]")
    if(includes)
      list(APPEND offenders "${relative}")
    endif()
  endforeach()
endforeach()

# A wrong SOURCE_DIR would check nothing and pass.
if(checked LESS 20)
  message(FATAL_ERROR "only ${checked} device sources found under ${SOURCE_DIR}")
endif()
if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "device modules include host/main.h, the program's entry:\n  ${text}")
endif()
message(STATUS "${checked} device sources, none includes host/main.h")
