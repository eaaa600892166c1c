# Makes the portable Windows zip, dist/plimsy-<version>-win64.zip: the
# programs, the user guide with its pictures, and the licence texts of what is
# linked into the programs. Run by the Windows build's `dist` target:
#
#   cmake -DEXECUTABLE=... [-DWINDOW_EXECUTABLE=...] -DSOURCE_DIR=... -DSTAGE_DIR=... -DOUTPUT_DIR=...
#         -DVERSION=... -DOBJDUMP=... -P cmake/make-dist.cmake
#
# VERSION is the display version (0.1), which names the zip.
#
# EXECUTABLE is plimsy-cli.exe, WINDOW_EXECUTABLE plimsy.exe (the window).
cmake_minimum_required(VERSION 3.25)
foreach(variable EXECUTABLE SOURCE_DIR STAGE_DIR OUTPUT_DIR VERSION OBJDUMP)
  if(NOT ${variable})
    message(FATAL_ERROR "make-dist.cmake: ${variable} is not given")
  endif()
endforeach()

set(executables ${EXECUTABLE})
if(WINDOW_EXECUTABLE)
  list(APPEND executables ${WINDOW_EXECUTABLE})
endif()

# A program that needs a DLL Windows lacks is not shipped.
execute_process(
  COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -P ${CMAKE_CURRENT_LIST_DIR}/check-dll-imports.cmake ${executables}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-dist.cmake: ${executables} fail(s) the DLL import check")
endif()

set(name plimsy-${VERSION}-win64)
set(root ${STAGE_DIR}/${name})
file(REMOVE_RECURSE ${root})
file(MAKE_DIRECTORY ${root}/docs ${root}/licences)
file(COPY ${executables} DESTINATION ${root})

# The guide as Windows shows it (its Windows passages, paths and screenshots:
# cmake/guide-for-windows.cmake), and every file it links to (its pictures).
include(${CMAKE_CURRENT_LIST_DIR}/guide-for-windows.cmake)
file(READ ${SOURCE_DIR}/docs/help.html guide)
plimsy_guide_for_windows("${guide}" guide)
file(WRITE ${root}/docs/help.html "${guide}")
string(REGEX MATCHALL "(src|href)=\"[^\"#:]+\"" references "${guide}")
foreach(reference IN LISTS references)
  string(REGEX REPLACE "^(src|href)=\"([^\"]+)\"$" "\\2" relative "${reference}")
  if(NOT EXISTS ${SOURCE_DIR}/docs/${relative})
    message(FATAL_ERROR "make-dist.cmake: docs/help.html refers to docs/${relative}, which is missing")
  endif()
  get_filename_component(folder ${root}/docs/${relative} DIRECTORY)
  file(COPY ${SOURCE_DIR}/docs/${relative} DESTINATION ${folder})
endforeach()

# The notices of everything linked statically into the program, from the
# Debian packages it was built with.
set(notices
  "zlib.txt|libz-mingw-w64-dev|zlib (compression)"
  "fmt.txt|libfmt-dev|{fmt} (text formatting)"
  "CLI11.txt|libcli11-dev|CLI11 (command-line parsing)"
  "mingw-w64-runtime.txt|mingw-w64-x86-64-dev|the MinGW-w64 runtime and winpthreads"
  "gcc-runtime.txt|gcc-mingw-w64-x86-64-posix-runtime|GCC's runtime libraries: libgcc and libstdc++ (GCC Runtime Library Exception)")
set(programs "plimsy-cli.exe contains")
if(WINDOW_EXECUTABLE)
  set(programs "plimsy.exe and plimsy-cli.exe contain")
endif()
set(index "${programs} code from these projects; each file here is its licence and copyright notice.\r\n\r\n")
foreach(notice IN LISTS notices)
  string(REPLACE "|" ";" fields "${notice}")
  list(GET fields 0 file_name)
  list(GET fields 1 package)
  list(GET fields 2 what)
  set(copyright /usr/share/doc/${package}/copyright)
  if(NOT EXISTS ${copyright})
    message(FATAL_ERROR "make-dist.cmake: ${copyright} is missing (is ${package} installed?)")
  endif()
  file(READ ${copyright} text)
  file(WRITE ${root}/licences/${file_name} "${text}")
  string(APPEND index "${file_name}: ${what}\r\n")
endforeach()
if(EXISTS ${SOURCE_DIR}/LICENSE)
  file(COPY ${SOURCE_DIR}/LICENSE DESTINATION ${root}/licences)
  string(APPEND index "LICENSE: Plimsy itself\r\n")
endif()
file(WRITE ${root}/licences/README.txt "${index}")

file(MAKE_DIRECTORY ${OUTPUT_DIR})
set(archive ${OUTPUT_DIR}/${name}.zip)
file(REMOVE ${archive})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${archive} --format=zip ${name}
  WORKING_DIRECTORY ${STAGE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make-dist.cmake: could not write ${archive}")
endif()
message(STATUS "Written: ${archive}")
