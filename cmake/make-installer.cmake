# Makes the Windows installer, dist/plimsy-<version>-setup.exe, with NSIS
# from installer/plimsy.nsi and the folder make-dist.cmake has staged for the
# portable zip (the same files, so both deliveries hold the same). Run by the
# Windows build's `installer` target:
#
#   cmake -DSTAGE=... -DSOURCE_DIR=... -DWORK_DIR=... -DOUTPUT=... -DVERSION=...
#         -DDISPLAY_VERSION=... -DCOPYRIGHT=... -DICON=... -DMAKENSIS=... -P cmake/make-installer.cmake
cmake_minimum_required(VERSION 3.25)
foreach(variable STAGE SOURCE_DIR WORK_DIR OUTPUT VERSION DISPLAY_VERSION COPYRIGHT ICON MAKENSIS)
  if(NOT ${variable})
    message(FATAL_ERROR "make-installer.cmake: ${variable} is not given")
  endif()
endforeach()
if(NOT IS_DIRECTORY ${STAGE})
  message(FATAL_ERROR "make-installer.cmake: the staged files (${STAGE}) are missing")
endif()

# "$INSTDIR\a\b" for the staged a/b (NSIS expands $ in strings; $$ is a dollar sign).
function(installed_path relative out)
  string(REPLACE "$" "$$" relative "${relative}")
  string(REPLACE "/" "\\" relative "${relative}")
  if(relative STREQUAL "")
    set(${out} "\"$INSTDIR\"" PARENT_SCOPE)
  else()
    set(${out} "\"$INSTDIR\\${relative}\"" PARENT_SCOPE)
  endif()
endfunction()

# The installer names every file it copies and the uninstaller deletes
# those names only, then the folders if they are empty: whatever else is in
# the installation folder is not the uninstaller's to remove.
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
if(NOT "plimsy-cli.exe" IN_LIST files)
  message(FATAL_ERROR "make-installer.cmake: ${STAGE} holds no plimsy-cli.exe")
endif()
file(GLOB_RECURSE folders LIST_DIRECTORIES true RELATIVE ${STAGE} ${STAGE}/*)
list(REMOVE_ITEM folders ${files})
list(SORT files)
set(install "!macro PLIMSY_INSTALL_FILES\n")
set(uninstall "!macro PLIMSY_UNINSTALL_FILES\n")
set(current_folder "-")
foreach(file IN LISTS files)
  get_filename_component(folder "${file}" DIRECTORY)
  if(NOT folder STREQUAL current_folder)
    installed_path("${folder}" target)
    string(APPEND install "  SetOutPath ${target}\n")
    set(current_folder "${folder}")
  endif()
  string(REPLACE "$" "$$" source "${STAGE}/${file}")
  string(APPEND install "  File \"${source}\"\n")
  installed_path("${file}" target)
  string(APPEND uninstall "  Delete ${target}\n")
endforeach()
# The deepest folders first.
list(SORT folders)
list(REVERSE folders)
foreach(folder IN LISTS folders)
  installed_path("${folder}" target)
  string(APPEND uninstall "  RMDir ${target}\n")
endforeach()
string(APPEND install "!macroend\n")
string(APPEND uninstall "!macroend\n")

# The name of the window's single-instance mutex, which the installer and the
# uninstaller look for, from the one place it is kept.
file(STRINGS ${SOURCE_DIR}/ui/ui_values.h instance_line REGEX "kInstanceGuid = \"[^\"]+\"")
if(NOT instance_line MATCHES "kInstanceGuid = \"([^\"]+)\"")
  message(FATAL_ERROR "make-installer.cmake: ui/ui_values.h names no kInstanceGuid")
endif()
set(INSTANCE_MUTEX ${CMAKE_MATCH_1})

file(MAKE_DIRECTORY ${WORK_DIR})
set(FILES ${WORK_DIR}/files.nsh)
file(WRITE ${FILES} "; The staged files, written by cmake/make-installer.cmake.\n${install}${uninstall}")
configure_file(${SOURCE_DIR}/installer/config.nsh.in ${WORK_DIR}/config.nsh @ONLY)

get_filename_component(output_dir ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${output_dir})
file(REMOVE ${OUTPUT})
execute_process(COMMAND ${MAKENSIS} -V2 -WX -DPLIMSY_CONFIG=${WORK_DIR}/config.nsh ${SOURCE_DIR}/installer/plimsy.nsi
  RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT EXISTS ${OUTPUT})
  message(FATAL_ERROR "make-installer.cmake: makensis could not make ${OUTPUT}")
endif()
message(STATUS "Written: ${OUTPUT}")
