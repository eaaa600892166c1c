# expat for the Windows build: Debian has no MinGW build of it, so the
# configure fetches Debian's `expat` source package (apt-get source, which
# needs a deb-src entry and dpkg-dev: scripts/install-deps.sh windows sets
# both up) into the build folder once, builds it with the same MinGW-w64
# toolchain as a static library and installs it there. The result is the
# imported target EXPAT::EXPAT, as find_package(EXPAT) gives on Linux, with
# XML_STATIC defined for its users (expat.h otherwise declares its functions
# as imported from a DLL).
#
#   <build>/expat/source    the unpacked source package (and its files)
#   <build>/expat/build     expat's own CMake build
#   <build>/expat/install   include/expat.h, lib/libexpat.a
#
# Removing <build>/expat fetches and builds it anew at the next configure.
set(_expat_dir ${PROJECT_BINARY_DIR}/expat)
set(_expat_install ${_expat_dir}/install)
set(_expat_library ${_expat_install}/lib/libexpat.a)

if(NOT EXISTS ${_expat_library} OR NOT EXISTS ${_expat_install}/include/expat.h)
  find_program(PLIMSY_APT_GET apt-get)
  find_program(PLIMSY_APT_CACHE apt-cache)
  find_program(PLIMSY_DPKG_SOURCE dpkg-source)
  if(NOT PLIMSY_APT_GET OR NOT PLIMSY_APT_CACHE OR NOT PLIMSY_DPKG_SOURCE)
    message(FATAL_ERROR "expat for Windows is built from Debian's source package: apt-get and dpkg-source "
                        "(dpkg-dev) are needed; scripts/install-deps.sh windows installs them")
  endif()

  # The versions apt knows, newest first: the candidate can be missing from a
  # mirror (a security archive without its sources) while an older one is there.
  execute_process(COMMAND ${PLIMSY_APT_CACHE} showsrc expat
    OUTPUT_VARIABLE _expat_showsrc ERROR_VARIABLE _expat_errors RESULT_VARIABLE _expat_status)
  string(REGEX MATCHALL "\nVersion: [^\n]+" _expat_versions "\n${_expat_showsrc}")
  list(TRANSFORM _expat_versions REPLACE "^\nVersion: " "")
  list(REMOVE_DUPLICATES _expat_versions)
  list(SORT _expat_versions COMPARE NATURAL ORDER DESCENDING)
  if(NOT _expat_versions)
    message(FATAL_ERROR "apt knows no source package of expat (${_expat_errors}): "
                        "scripts/install-deps.sh windows adds the deb-src entries it needs")
  endif()

  set(_expat_source "")
  file(REMOVE_RECURSE ${_expat_dir})
  file(MAKE_DIRECTORY ${_expat_dir}/source)
  foreach(_expat_version IN LISTS _expat_versions)
    message(STATUS "Fetching Debian's expat ${_expat_version} source package for the Windows build")
    execute_process(COMMAND ${PLIMSY_APT_GET} source -qq expat=${_expat_version}
      WORKING_DIRECTORY ${_expat_dir}/source
      OUTPUT_VARIABLE _expat_output ERROR_VARIABLE _expat_errors RESULT_VARIABLE _expat_status)
    file(GLOB _expat_lists ${_expat_dir}/source/expat-*/expat/CMakeLists.txt)
    if(_expat_status EQUAL 0 AND _expat_lists)
      list(GET _expat_lists 0 _expat_lists)
      get_filename_component(_expat_source ${_expat_lists} DIRECTORY)
      break()
    endif()
    string(STRIP "${_expat_errors}" _expat_errors)
    message(STATUS "  not to be had: ${_expat_errors}")
  endforeach()
  if(NOT _expat_source)
    message(FATAL_ERROR "None of expat's source packages (${_expat_versions}) could be fetched with apt-get source")
  endif()

  # Debian builds expat with its autotools build, whose configuration header
  # defines XML_DTD as 1; its security patches test `#if XML_DTD == 1`, which
  # the CMake build's empty definition breaks. Defined as 1 here too.
  set(_expat_config_in ${_expat_source}/expat_config.h.cmake)
  if(EXISTS ${_expat_config_in})
    file(READ ${_expat_config_in} _expat_config)
    string(REGEX REPLACE "#cmakedefine XML_DTD[ \t]*\n" "#cmakedefine XML_DTD 1\n" _expat_config "${_expat_config}")
    string(REGEX REPLACE "#cmakedefine XML_NS[ \t]*\n" "#cmakedefine XML_NS 1\n" _expat_config "${_expat_config}")
    file(WRITE ${_expat_config_in} "${_expat_config}")
  endif()

  # The same toolchain and compiler launcher (ccache) as this build.
  set(_expat_toolchain ${CMAKE_TOOLCHAIN_FILE})
  if(NOT IS_ABSOLUTE "${_expat_toolchain}")
    set(_expat_toolchain ${PROJECT_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake)
  endif()
  set(_expat_options
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=${_expat_install}
    -DCMAKE_INSTALL_LIBDIR=lib
    -DEXPAT_SHARED_LIBS=OFF
    -DEXPAT_BUILD_TOOLS=OFF
    -DEXPAT_BUILD_EXAMPLES=OFF
    -DEXPAT_BUILD_TESTS=OFF
    -DEXPAT_BUILD_DOCS=OFF
    -DEXPAT_BUILD_FUZZERS=OFF
    -DEXPAT_BUILD_PKGCONFIG=OFF)
  if(CMAKE_C_COMPILER_LAUNCHER)
    list(APPEND _expat_options -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER})
  endif()
  message(STATUS "Building expat (static) from ${_expat_source}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${_expat_source} -B ${_expat_dir}/build -G ${CMAKE_GENERATOR}
                          --toolchain ${_expat_toolchain} ${_expat_options}
    OUTPUT_VARIABLE _expat_output ERROR_VARIABLE _expat_errors RESULT_VARIABLE _expat_status)
  if(NOT _expat_status EQUAL 0)
    message(FATAL_ERROR "expat's configure failed:\n${_expat_output}\n${_expat_errors}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${_expat_dir}/build --target install --parallel 2
    OUTPUT_VARIABLE _expat_output ERROR_VARIABLE _expat_errors RESULT_VARIABLE _expat_status)
  if(NOT _expat_status EQUAL 0 OR NOT EXISTS ${_expat_library})
    message(FATAL_ERROR "expat's build failed:\n${_expat_output}\n${_expat_errors}")
  endif()
endif()

add_library(EXPAT::EXPAT STATIC IMPORTED)
set_target_properties(EXPAT::EXPAT PROPERTIES
  IMPORTED_LOCATION ${_expat_library}
  INTERFACE_INCLUDE_DIRECTORIES ${_expat_install}/include
  INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
# What find_package(EXPAT) sets, for anything that reads the variables.
set(EXPAT_FOUND TRUE)
set(EXPAT_INCLUDE_DIRS ${_expat_install}/include)
set(EXPAT_LIBRARIES EXPAT::EXPAT)
unset(_expat_dir)
unset(_expat_install)
unset(_expat_library)
