# SPDX-License-Identifier: MIT
# cmake/check_layers.cmake against small made-up trees: each include below
# must pass or fail as its case says.
#   cmake -DCHECK=<check_layers.cmake> -DWORK=<scratch folder> -P check_catches.cmake
cmake_minimum_required(VERSION 3.25)

# case name | file | its include line | PASS or FAIL
set(cases
  "down|src/ops/op.cpp|#include \"link/commands.h\"|PASS"
  "same level apart|src/chips/rules.cpp|#include \"image/code_image.h\"|FAIL"
  "up one|src/link/connect.cpp|#include \"ops/run_operation.h\"|FAIL"
  "up from the floor|src/base/app_state.h|#include \"chips/chip_list.h\"|FAIL"
  "platform upwards|src/platform/port.h|#include \"base/app_state.h\"|FAIL"
  "OS header in the logic|src/link/io.cpp|#include <windows.h>|FAIL"
  "OS header on Windows|src/win32/port.cpp|#include <windows.h>|PASS"
  "OS header on Linux|src/linux/port.cpp|#include <termios.h>|PASS"
  "Linux code in the logic|src/ops/op.cpp|#include \"linux/sysfs_port_map.h\"|FAIL"
  "command line on the logic|cli/main.cpp|#include \"app/startup.h\"|PASS"
  "command line on a system|cli/system_windows.cpp|#include \"win32/win32_serial_port.h\"|PASS"
  "Linux layer on the logic|src/linux/port.cpp|#include \"link/commands.h\"|FAIL"
  "database on the logic|src/odbc/db.cpp|#include \"ops/run_operation.h\"|FAIL"
  "command line on the database|cli/db.cpp|#include \"odbc/odbc_line_database.h\"|PASS"
  "simulator on the host|sim/device.cpp|#include \"link/commands.h\"|FAIL"
  "host on the simulator|src/ops/view.cpp|#include \"sim/device.h\"|FAIL")

set(wrong "")
foreach(case ${cases})
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 file)
  list(GET fields 2 line)
  list(GET fields 3 expected)
  file(REMOVE_RECURSE ${WORK})
  file(WRITE ${WORK}/${file} "${line}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECK} RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET)
  if(result EQUAL 0)
    set(got PASS)
  else()
    set(got FAIL)
  endif()
  if(NOT got STREQUAL expected)
    string(APPEND wrong "${name}: ${file} with ${line} gave ${got}, not ${expected}\n")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK})

if(wrong)
  message(FATAL_ERROR "${wrong}")
endif()
