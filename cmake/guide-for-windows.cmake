# The user guide for Windows, made from docs/help.html, the one guide of both
# systems: the passages marked for Linux only (between the comments
# <!--linux--> and <!--/linux-->) are left out, the comments
# <!--windows TEXT windows--> give their TEXT in their place, and every
# screenshot is the Windows program's (screenshots/windows-NAME.png for
# screenshots/NAME.png).
#
#   include(guide-for-windows.cmake)
#   plimsy_guide_for_windows(<guide text> <output variable>)
#
# or as a script: cmake -DINPUT=docs/help.html -DOUTPUT=<file> -P cmake/guide-for-windows.cmake
# Unbalanced marks stop the build.
cmake_minimum_required(VERSION 3.25)

function(plimsy_guide_for_windows text out)
  # Linux-only passages out.
  while(TRUE)
    string(FIND "${text}" "<!--linux-->" begin)
    if(begin EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${text}" ${begin} -1 rest)
    string(FIND "${rest}" "<!--/linux-->" length)
    if(length EQUAL -1)
      message(FATAL_ERROR "guide-for-windows.cmake: a <!--linux--> passage of the guide has no <!--/linux-->")
    endif()
    string(SUBSTRING "${text}" 0 ${begin} head)
    math(EXPR after "${length} + 13")
    string(SUBSTRING "${rest}" ${after} -1 tail)
    set(text "${head}${tail}")
  endwhile()
  # Windows-only text in.
  while(TRUE)
    string(FIND "${text}" "<!--windows " begin)
    if(begin EQUAL -1)
      break()
    endif()
    string(SUBSTRING "${text}" ${begin} -1 rest)
    string(FIND "${rest}" " windows-->" length)
    if(length EQUAL -1)
      message(FATAL_ERROR "guide-for-windows.cmake: a <!--windows passage of the guide has no end (windows-->)")
    endif()
    string(SUBSTRING "${text}" 0 ${begin} head)
    math(EXPR inner "${length} - 12")
    string(SUBSTRING "${rest}" 12 ${inner} windows)
    math(EXPR after "${length} + 11")
    string(SUBSTRING "${rest}" ${after} -1 tail)
    set(text "${head}${windows}${tail}")
  endwhile()
  foreach(mark "<!--/linux-->" "windows-->")
    string(FIND "${text}" "${mark}" stray)
    if(NOT stray EQUAL -1)
      message(FATAL_ERROR "guide-for-windows.cmake: the guide has a ${mark} that no passage opens")
    endif()
  endforeach()
  # The Windows program's screenshots.
  string(REGEX REPLACE "src=\"screenshots/([^\"/]+)\"" "src=\"screenshots/windows-\\1\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT INPUT OR NOT OUTPUT)
    message(FATAL_ERROR "guide-for-windows.cmake: give -DINPUT=<guide> -DOUTPUT=<file>")
  endif()
  file(READ ${INPUT} guide)
  plimsy_guide_for_windows("${guide}" guide)
  file(WRITE ${OUTPUT} "${guide}")
endif()
