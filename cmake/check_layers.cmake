# SPDX-License-Identifier: MIT
# Fails when a file includes a header of a layer above its own, when the
# portable layers include an OS header, or when the simulator and the host
# include each other's code.
#   cmake -DROOT=<source folder> -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)

# What each folder may include, by the folder a quoted include starts with.
set(portable platform base image chips link ops app)
set(allowed_platform platform)
set(allowed_base platform base)
set(allowed_image platform base image)
set(allowed_chips platform base chips)
set(allowed_link platform base image chips link)
set(allowed_ops platform base image chips link ops)
set(allowed_app platform base image chips link ops app)
set(allowed_win32 platform base image chips link ops app win32 odbc)
set(allowed_cli platform base image chips link ops app cli win32 linux odbc)
set(allowed_linux platform linux)
set(allowed_odbc platform odbc)
set(allowed_sim sim)
set(known platform base image chips link ops app win32 linux odbc cli sim)

set(folders)
foreach(layer platform base image chips link ops app win32 linux odbc)
  list(APPEND folders "src/${layer}")
endforeach()
list(APPEND folders cli sim)

set(problems "")
foreach(folder ${folders})
  get_filename_component(layer ${folder} NAME)
  file(GLOB_RECURSE files ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(file ${files})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    file(RELATIVE_PATH shown ${ROOT} ${file})
    foreach(line ${includes})
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z0-9_]+)/")
        set(target ${CMAKE_MATCH_1})
        if(target IN_LIST known AND NOT target IN_LIST allowed_${layer})
          string(APPEND problems "${shown}: ${line} (${layer} may include ${allowed_${layer}})\n")
        endif()
      elseif(layer IN_LIST portable AND line MATCHES "<(windows|unistd|termios|fcntl|sys/[a-z]+)\\.h>")
        string(APPEND problems "${shown}: ${line} (no OS header below win32, linux, cli and sim)\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(problems)
  message(FATAL_ERROR "Includes against the layers:\n${problems}")
endif()
