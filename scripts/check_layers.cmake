# Checks that every library folder uses only the layers below it: the
# project's include lines ("folder/file.h") and the libraries each
# CMakeLists.txt links. Run as
#   cmake -DROOT=<source folder> -P scripts/check_layers.cmake
# It prints every upward edge and fails when there is one. The layer table
# here is the one docs/architecture.md shows; a new library folder gets its
# row here.

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source folder> -P check_layers.cmake")
endif()

# folder, layer (a folder may use folders of a lower layer only), library.
set(layers
  "base|0|velmora_base"
  "platform|1|velmora_platform"
  "db|2|velmora_db"
  "app|2|velmora_app"
  "toolkit|2|velmora_toolkit"
  "db/undark|3|velmora_undark"
  "backup|4|velmora_backup"
  "export|5|velmora_export"
  "readers|6|velmora_readers"
  "testing|6|velmora_testing"
  "chat|7|velmora_chat"
  "recovery|8|velmora_recovery"
  "ui|9|velmora_ui"
  "cli|9|velmora_cli_commands")

set(folders "")
foreach(row IN LISTS layers)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 folder)
  list(GET fields 1 layer)
  list(GET fields 2 library)
  list(APPEND folders "${folder}")
  set(layer_of_${folder} "${layer}")
  set(folder_of_${library} "${folder}")
endforeach()

# The folder of a project path ("db/undark/undark.h" -> db/undark): the
# longest folder of the table it starts with, or empty.
function(folder_of path out)
  set(best "")
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" length)
    string(SUBSTRING "${path}" 0 ${length} head)
    if(head STREQUAL "${folder}/")
      string(LENGTH "${best}" bestLength)
      if(length GREATER bestLength)
        set(best "${folder}")
      endif()
    endif()
  endforeach()
  set(${out} "${best}" PARENT_SCOPE)
endfunction()

set(upward "")
foreach(folder IN LISTS folders)
  if(NOT IS_DIRECTORY "${ROOT}/${folder}")
    continue()
  endif()
  file(GLOB sources RELATIVE "${ROOT}" "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${ROOT}/${source}" includes REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
      folder_of("${included}" target)
      if(target STREQUAL "" OR target STREQUAL folder)
        continue()
      endif()
      if(NOT layer_of_${target} LESS layer_of_${folder})
        list(APPEND upward "${source} includes ${included} (${folder} is layer ${layer_of_${folder}}, ${target} layer ${layer_of_${target}})")
      endif()
    endforeach()
  endforeach()

  # The libraries the folder's own CMakeLists.txt links.
  if(EXISTS "${ROOT}/${folder}/CMakeLists.txt")
    file(READ "${ROOT}/${folder}/CMakeLists.txt" cmake_text)
    string(REGEX MATCHALL "target_link_libraries\\([^)]*\\)" links "${cmake_text}")
    foreach(link IN LISTS links)
      string(REGEX MATCHALL "velmora_[a-z_]+" libraries "${link}")
      list(POP_FRONT libraries linking)
      if(NOT DEFINED folder_of_${linking} OR NOT folder_of_${linking} STREQUAL folder)
        continue()
      endif()
      foreach(library IN LISTS libraries)
        if(NOT DEFINED folder_of_${library})
          continue()
        endif()
        set(target "${folder_of_${library}}")
        if(target STREQUAL folder)
          continue()
        endif()
        if(NOT layer_of_${target} LESS layer_of_${folder})
          list(APPEND upward "${folder}/CMakeLists.txt: ${linking} links ${library} (layer ${layer_of_${target}} is not below ${layer_of_${folder}})")
        endif()
      endforeach()
    endforeach()
  endif()
endforeach()

list(LENGTH upward count)
if(count GREATER 0)
  list(JOIN upward "\n  " text)
  message(FATAL_ERROR "${count} upward edges:\n  ${text}")
endif()
message(STATUS "every library uses only the layers below it")
