# The Debian package of the command line (included by package/CMakeLists.txt):
# a build of ctyset2 of its own in cli-release/, with Debian's hardening flags
# (dpkg-buildflags) and without the sanitizers of the native tree, packaged by
# build-deb.sh into ctyset2_<version>_<architecture>.deb.
include(ExternalProject)
find_program(CTYSET2_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
find_program(CTYSET2_DPKG_DEB dpkg-deb REQUIRED)
find_program(CTYSET2_DPKG_SHLIBDEPS dpkg-shlibdeps REQUIRED)
foreach(flags CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                          ${CTYSET2_DPKG_BUILDFLAGS} --get ${flags}
                  OUTPUT_VARIABLE deb_${flags} OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endforeach()
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE CTYSET2_DEB_ARCH
                OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)

set(CTYSET2_DEB_CLI ${CMAKE_BINARY_DIR}/cli-release/cli/ctyset2)
ExternalProject_Add(cli_release
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${CMAKE_BINARY_DIR}/cli-release
  CMAKE_GENERATOR Ninja
  # Build type None: the flags are dpkg-buildflags' alone, as in Debian.
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=None -DCTYSET2_SANITIZE=OFF
             -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc
             "-DCMAKE_CXX_FLAGS=${deb_CPPFLAGS} ${deb_CXXFLAGS}"
             "-DCMAKE_EXE_LINKER_FLAGS=${deb_LDFLAGS}"
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target ctyset2_cli
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CTYSET2_DEB_CLI})

set(CTYSET2_DEB_FILE ${CMAKE_BINARY_DIR}/ctyset2_${PROJECT_VERSION}_${CTYSET2_DEB_ARCH}.deb)
set(_deb_sources ${CMAKE_CURRENT_LIST_DIR}/build-deb.sh ${CMAKE_CURRENT_LIST_DIR}/control
    ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_CURRENT_LIST_DIR}/changelog
    ${PROJECT_SOURCE_DIR}/data/Ctyset2.ini ${PROJECT_SOURCE_DIR}/cli/doc/ctyset2.1
    ${PROJECT_SOURCE_DIR}/cli/doc/ctyset2.bash-completion)
add_custom_command(OUTPUT ${CTYSET2_DEB_FILE}
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/build-deb.sh ${PROJECT_VERSION} ${CTYSET2_DEB_ARCH}
          ${CTYSET2_DEB_CLI} ${CTYSET2_DEB_FILE}
  DEPENDS cli_release ${CTYSET2_DEB_CLI} ${_deb_sources}
  COMMENT "Debian package ${CTYSET2_DEB_FILE}")
list(APPEND packages ${CTYSET2_DEB_FILE})
