# The packages, made by CPack (scripts/package.sh runs it): from the win32 build the zip with
# both programs, README.txt and LICENSE; from the native build the Debian package of
# valdrix-config and valdrix-sim. The version is the project's.
set(VALDRIX_MAINTAINER "Valdrix Configurator developers <valdrix@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Valdrix Configurator developers")
set(CPACK_PACKAGE_CONTACT ${VALDRIX_MAINTAINER})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME valdrix-configurator)
  set(CPACK_PACKAGE_FILE_NAME valdrix-configurator-${PROJECT_VERSION}-win32)
  # The files at the top: Windows' "Extract all" makes the folder itself.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
# Only here: the Windows programs are linked stripped and go into the zip as they were built.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME valdrix-config)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "configure Valdrix s88 feedback interfaces from the command line
valdrix-config finds a Valdrix interface (an XpressNet device serving a chain
of s88 feedback modules) on a serial port, shows its version, XpressNet
address, module base address and module count, and changes them.
.
valdrix-sim runs a simulated interface on a pseudo-terminal, to try
valdrix-config, scripts or the Windows configurator without the hardware.
.
Free software under the MIT licence.")

# /usr/share/doc/valdrix-config: the copyright file, made from LICENSE, and the changelog, as
# changelog.gz: the version has no Debian revision, so this is a native package.
set(doc ${CMAKE_CURRENT_BINARY_DIR}/doc)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(VALDRIX_COPYRIGHT ${CMAKE_MATCH_1})
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " VALDRIX_LICENSE_TEXT " ${license}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${doc}/copyright @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${doc}/changelog @ONLY)
add_custom_command(OUTPUT ${doc}/changelog.gz
                   COMMAND gzip -9nkf ${doc}/changelog
                   DEPENDS ${doc}/changelog VERBATIM)
add_custom_target(valdrix_changelog ALL DEPENDS ${doc}/changelog.gz)
install(FILES ${doc}/copyright ${doc}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/valdrix-config)
include(CPack)
