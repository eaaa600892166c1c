# Windows resources for Plimsy's programs: the icon (made from
# resources/icon.png when building), the version information and the
# application manifest, compiled by windres and linked into the .exe.
#
#   plimsy_add_windows_resources(<target> DESCRIPTION "<what the program is>" [GUI] [ICON_ID <id>])
#
# DESCRIPTION is the FileDescription Explorer shows. GUI marks a program with
# a window of its own: it is linked for the Windows subsystem (no console).
# ICON_ID is the icon group's resource id (1 unless the program's code loads
# the icon by another).
# Included by the top-level CMakeLists.txt for Windows builds only.
enable_language(RC)

set(PLIMSY_COMPANY "Tarnwick")
set(PLIMSY_COPYRIGHT "Copyright © 2026 Tarnwick")

# One .ico with every size Windows asks for, from 16 px (lists) to 256 px
# (large icons); ImageMagick resamples each from the 256 px picture.
find_program(PLIMSY_CONVERT NAMES convert
  DOC "ImageMagick's convert, which makes the program icon (Debian: imagemagick)")
if(NOT PLIMSY_CONVERT)
  message(FATAL_ERROR "ImageMagick's convert is missing (scripts/install-deps.sh windows installs it)")
endif()
set(PLIMSY_WINDOWS_ICON ${PROJECT_BINARY_DIR}/resources/plimsy.ico)
add_custom_command(OUTPUT ${PLIMSY_WINDOWS_ICON}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/resources
  COMMAND ${PLIMSY_CONVERT} ${PROJECT_SOURCE_DIR}/resources/icon.png -strip
          -define icon:auto-resize=256,64,48,32,24,16 ${PLIMSY_WINDOWS_ICON}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/icon.png
  COMMENT "Making the Windows icon plimsy.ico"
  VERBATIM)
add_custom_target(plimsy_windows_icon DEPENDS ${PLIMSY_WINDOWS_ICON})

# "a,b,c,d" for a VERSIONINFO statement: missing parts are 0.
function(_plimsy_version_commas version out)
  string(REPLACE "." ";" parts "${version}")
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  list(SUBLIST parts 0 4 parts)
  list(JOIN parts "," joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()

function(plimsy_add_windows_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "GUI" "DESCRIPTION;ICON_ID" "")
  if(NOT arg_DESCRIPTION)
    message(FATAL_ERROR "plimsy_add_windows_resources(${target}): DESCRIPTION is missing")
  endif()
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "plimsy_add_windows_resources(${target}): unknown arguments ${arg_UNPARSED_ARGUMENTS}")
  endif()

  # What configure_file puts into the templates in resources/windows/.
  set(PLIMSY_RC_TARGET ${target})
  set(PLIMSY_RC_FILE_NAME ${target}.exe)
  set(PLIMSY_RC_COMPANY ${PLIMSY_COMPANY})
  set(PLIMSY_RC_COPYRIGHT ${PLIMSY_COPYRIGHT})
  string(REPLACE "\"" "\"\"" PLIMSY_RC_DESCRIPTION "${arg_DESCRIPTION}")
  string(REPLACE "&" "&amp;" PLIMSY_RC_DESCRIPTION_XML "${arg_DESCRIPTION}")
  string(REPLACE "<" "&lt;" PLIMSY_RC_DESCRIPTION_XML "${PLIMSY_RC_DESCRIPTION_XML}")
  _plimsy_version_commas(${PROJECT_VERSION} PLIMSY_RC_FILE_VERSION_COMMAS)
  _plimsy_version_commas(${PLIMSY_DISPLAY_VERSION} PLIMSY_RC_PRODUCT_VERSION_COMMAS)
  set(PLIMSY_RC_ICON ${PLIMSY_WINDOWS_ICON})
  set(PLIMSY_RC_ICON_ID 1)
  if(arg_ICON_ID)
    set(PLIMSY_RC_ICON_ID ${arg_ICON_ID})
  endif()
  set(PLIMSY_RC_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/plimsy.manifest.in ${PLIMSY_RC_MANIFEST} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/plimsy.rc.in ${rc} @ONLY)

  target_sources(${target} PRIVATE ${rc})
  # windres reads the icon and the manifest: a new one recompiles the .rc.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${PLIMSY_WINDOWS_ICON};${PLIMSY_RC_MANIFEST}")
  add_dependencies(${target} plimsy_windows_icon)
  if(arg_GUI)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE TRUE)
  endif()
endfunction()
