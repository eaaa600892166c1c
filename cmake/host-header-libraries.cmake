# {fmt} and CLI11 for a cross build. Debian has no MinGW build of either, but
# both work from their headers alone ({fmt} with FMT_HEADER_ONLY), so the
# host's headers serve. They are reached through a folder of links in the
# build tree: the host's /usr/include itself (glibc's headers) must never be
# on a Windows build's include path.
find_path(PLIMSY_HOST_FMT_INCLUDE_DIR fmt/format.h
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
  DOC "Folder holding the host's fmt/ headers (Debian: libfmt-dev)")
find_path(PLIMSY_HOST_CLI11_INCLUDE_DIR CLI/CLI.hpp
  PATHS /usr/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH
  DOC "Folder holding the host's CLI/ headers (Debian: libcli11-dev)")
if(NOT PLIMSY_HOST_FMT_INCLUDE_DIR OR NOT PLIMSY_HOST_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "The {fmt} and CLI11 headers are missing (scripts/install-deps.sh windows installs them)")
endif()

set(_plimsy_host_headers ${PROJECT_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${_plimsy_host_headers})
file(CREATE_LINK ${PLIMSY_HOST_FMT_INCLUDE_DIR}/fmt ${_plimsy_host_headers}/fmt SYMBOLIC)
file(CREATE_LINK ${PLIMSY_HOST_CLI11_INCLUDE_DIR}/CLI ${_plimsy_host_headers}/CLI SYMBOLIC)

add_library(fmt::fmt INTERFACE IMPORTED)
set_target_properties(fmt::fmt PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${_plimsy_host_headers}
  INTERFACE_COMPILE_DEFINITIONS FMT_HEADER_ONLY=1)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_plimsy_host_headers})
unset(_plimsy_host_headers)
