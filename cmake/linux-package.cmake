# The Linux installation beyond the programs, and its Debian package
# (CPack's DEB generator), of the display version: manual pages, bash completion, the icon in every
# size a desktop asks for, AppStream metadata, the copyright file and the
# changelog. `make package` writes dist/plimsy_<version>_amd64.deb.
# Included by the top-level CMakeLists.txt on Linux, after the programs.
include(GNUInstallDirs)

set(PLIMSY_LINUX_RESOURCES ${PROJECT_SOURCE_DIR}/resources/linux)
set(PLIMSY_PACKAGE_MAINTAINER "Plimsy developers <plimsy@example.org>")
set(PLIMSY_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc/plimsy)
set(_plimsy_stage ${PROJECT_BINARY_DIR}/linux)
file(MAKE_DIRECTORY ${_plimsy_stage})

# The release the package holds is the changelog's latest entry: its version,
# and its date for the AppStream metadata.
file(STRINGS ${PLIMSY_LINUX_RESOURCES}/changelog _plimsy_changelog)
list(GET _plimsy_changelog 0 _plimsy_heading)
if(NOT _plimsy_heading MATCHES "^plimsy \\(([^)]+)\\)")
  message(FATAL_ERROR "resources/linux/changelog does not begin with an entry \"plimsy (VERSION) ...\"")
endif()
set(PLIMSY_RELEASE_VERSION ${CMAKE_MATCH_1})
if(NOT PLIMSY_RELEASE_VERSION STREQUAL PLIMSY_DISPLAY_VERSION)
  message(WARNING "resources/linux/changelog's latest entry is for ${PLIMSY_RELEASE_VERSION}, but the project is "
                  "${PLIMSY_DISPLAY_VERSION}: the package needs an entry for its version")
endif()
foreach(_plimsy_line IN LISTS _plimsy_changelog)
  if(_plimsy_line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    set(_plimsy_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND _plimsy_months ${CMAKE_MATCH_2} _plimsy_month)
    math(EXPR _plimsy_month "${_plimsy_month} + 1" OUTPUT_FORMAT DECIMAL)
    set(_plimsy_day ${CMAKE_MATCH_1})
    foreach(_plimsy_part _plimsy_month _plimsy_day)
      string(LENGTH "${${_plimsy_part}}" _plimsy_length)
      if(_plimsy_length EQUAL 1)
        set(${_plimsy_part} "0${${_plimsy_part}}")
      endif()
    endforeach()
    set(PLIMSY_RELEASE_DATE "${CMAKE_MATCH_3}-${_plimsy_month}-${_plimsy_day}")
    break()
  endif()
endforeach()
if(NOT PLIMSY_RELEASE_DATE)
  message(FATAL_ERROR "resources/linux/changelog's latest entry has no trailer line with its date")
endif()

# Manual pages and the changelog are installed gzipped (-n: no name or time
# in the header, so the same text gives the same bytes).
find_program(PLIMSY_GZIP gzip REQUIRED)
set(_plimsy_generated)
function(_plimsy_gzip source output)
  get_filename_component(name ${output} NAME_WLE)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_plimsy_stage}/${name}
    COMMAND ${PLIMSY_GZIP} -9nf ${_plimsy_stage}/${name}
    DEPENDS ${source}
    VERBATIM)
  set(_plimsy_generated ${_plimsy_generated} ${output} PARENT_SCOPE)
endfunction()

set(_plimsy_manual_pages plimsy-cli)
if(TARGET plimsy)
  list(APPEND _plimsy_manual_pages plimsy)
endif()
foreach(_plimsy_page IN LISTS _plimsy_manual_pages)
  _plimsy_gzip(${PROJECT_SOURCE_DIR}/docs/man/${_plimsy_page}.1 ${_plimsy_stage}/${_plimsy_page}.1.gz)
  install(FILES ${_plimsy_stage}/${_plimsy_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
_plimsy_gzip(${PLIMSY_LINUX_RESOURCES}/changelog ${_plimsy_stage}/changelog.gz)
install(FILES ${_plimsy_stage}/changelog.gz ${PLIMSY_LINUX_RESOURCES}/copyright DESTINATION ${PLIMSY_PACKAGE_DOCDIR})

install(FILES ${PLIMSY_LINUX_RESOURCES}/plimsy-cli.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME plimsy-cli)

if(TARGET plimsy)
  # The AppStream metadata, with the release of the changelog's latest entry.
  configure_file(${PLIMSY_LINUX_RESOURCES}/io.github.plimsy.Plimsy.metainfo.xml.in
                 ${_plimsy_stage}/io.github.plimsy.Plimsy.metainfo.xml @ONLY)
  install(FILES ${_plimsy_stage}/io.github.plimsy.Plimsy.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

  # The icon in the sizes below the 256 px picture (which the window's own
  # rules install), resampled by ImageMagick; no date chunks, so that the
  # same picture gives the same bytes.
  find_program(PLIMSY_CONVERT NAMES convert DOC "ImageMagick's convert, which makes the icon's sizes (Debian: imagemagick)")
  if(NOT PLIMSY_CONVERT)
    message(FATAL_ERROR "ImageMagick's convert is missing (scripts/install-deps.sh installs it)")
  endif()
  foreach(_plimsy_size 16 22 24 32 48 64 128)
    set(_plimsy_icon ${_plimsy_stage}/icons/${_plimsy_size}x${_plimsy_size}/plimsy.png)
    add_custom_command(OUTPUT ${_plimsy_icon}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_plimsy_stage}/icons/${_plimsy_size}x${_plimsy_size}
      COMMAND ${PLIMSY_CONVERT} ${PROJECT_SOURCE_DIR}/resources/icon.png -strip -resize ${_plimsy_size}x${_plimsy_size}
              -define png:exclude-chunks=date,time ${_plimsy_icon}
      DEPENDS ${PROJECT_SOURCE_DIR}/resources/icon.png
      VERBATIM)
    list(APPEND _plimsy_generated ${_plimsy_icon})
    install(FILES ${_plimsy_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_plimsy_size}x${_plimsy_size}/apps)
  endforeach()

  # The user guide is installed with the program, which opens it from
  # share/plimsy (a system may leave share/doc out); the package's
  # documentation folder links to it.
  foreach(_plimsy_guide help.html screenshots)
    file(CREATE_LINK ../../plimsy/${_plimsy_guide} ${_plimsy_stage}/${_plimsy_guide} SYMBOLIC)
    install(FILES ${_plimsy_stage}/${_plimsy_guide} DESTINATION ${PLIMSY_PACKAGE_DOCDIR})
  endforeach()
endif()

add_custom_target(linux_install_files ALL DEPENDS ${_plimsy_generated})

# The Debian package. Its dependencies are those of the programs' libraries
# (dpkg-shlibdeps, from dpkg-dev), and Qt's platform plugins, which the window
# loads at run time (the display server's, xcb or wayland): without them, as
# libqt6gui6 only recommends them, it cannot start.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plimsy)
set(CPACK_PACKAGE_VERSION ${PLIMSY_DISPLAY_VERSION})
set(CPACK_PACKAGE_VENDOR Tarnwick)
set(CPACK_PACKAGE_CONTACT ${PLIMSY_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "epub zipper: packs a book folder into an epub, unpacks and analyses epubs")
set(CPACK_PACKAGE_DESCRIPTION [=[
Plimsy is a small, exact tool for people who make e-books by hand. An epub
is a ZIP archive with one rule that most general zip tools get wrong: its
first entry must be a file named mimetype, stored without compression.

Plimsy zips a book folder into an epub (mimetype first and stored), unzips
an epub into a folder with every entry checked, and analyses any ZIP archive
into a plain-text log of every record. An old epub or folder is replaced
only once the new one is complete.

This package holds the window (plimsy) and the command-line program
(plimsy-cli), which runs the same jobs for scripts and book build pipelines
and can also repack an epub into a sound container.]=])
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${PLIMSY_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-qpa-plugins)
# The window opens epubs, folders, logs and the guide with xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
