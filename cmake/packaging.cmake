# The packages, made by CPack (scripts/package.sh runs it): from the win32 build the zip with
# both programs, README.txt and LICENSE, and the installer made from the zip (cmake/msi.cmake);
# from the native build the Debian package of valdrix-config and valdrix-sim, and the package of
# the Qt window, valdrix-configurator, which keeps Qt out of the first. The version is the
# project's.
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
  set(CPACK_VALDRIX_MSI_WXS ${CMAKE_BINARY_DIR}/valdrix-configurator.wxs)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/valdrix-configurator.wxs.in
                 ${CPACK_VALDRIX_MSI_WXS} @ONLY)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/msi.cmake)
  include(CPack)
  return()
endif()

set(CPACK_GENERATOR DEB)
# Only here: the Windows programs are linked stripped and go into the zip as they were built.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_NAME valdrix-config)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(valdrix_packages valdrix-config)
if(TARGET valdrix-configurator)
  list(APPEND valdrix_packages valdrix-configurator)
endif()
set(CPACK_COMPONENTS_ALL ${valdrix_packages})
foreach(package IN LISTS valdrix_packages)
  string(TOUPPER ${package} component)
  set(CPACK_DEBIAN_${component}_PACKAGE_NAME ${package})
  set(CPACK_DEBIAN_${component}_FILE_NAME DEB-DEFAULT)
endforeach()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A cross build's packages are for its target (dpkg-shlibdeps reads each program's own ELF class
# and machine and looks up that architecture's multiarch libraries by itself).
if(VALDRIX_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${VALDRIX_DEB_ARCH})
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The window's error boxes name valdrix-config list -l, which shows every port with its state.
set(CPACK_DEBIAN_VALDRIX-CONFIGURATOR_PACKAGE_RECOMMENDS "valdrix-config, qt6-translations-l10n")
set(CPACK_DEBIAN_VALDRIX-CONFIG_DESCRIPTION
    "configure Valdrix s88 feedback interfaces from the command line
valdrix-config finds a Valdrix interface (an XpressNet device serving a chain
of s88 feedback modules) on a serial port, shows its version, XpressNet
address, module base address and module count, and changes them.
.
valdrix-sim runs a simulated interface on a pseudo-terminal, to try
valdrix-config, scripts or the Windows configurator without the hardware.
.
Free software under the MIT licence.")
set(CPACK_DEBIAN_VALDRIX-CONFIGURATOR_DESCRIPTION
    "configure Valdrix s88 feedback interfaces in a window
valdrix-configurator finds a Valdrix interface (an XpressNet device serving
a chain of s88 feedback modules) on a serial port, shows its version,
XpressNet address, module base address and module count, and changes them,
in a window. Each serial port is listed with what it is, a port on another
machine is reached through ser2net (rfc2217://), and a port that cannot be
opened is explained.
.
Free software under the MIT licence.")
set(valdrix_note_valdrix-config
    "valdrix-config and valdrix-sim, with their manual pages and\n    bash completion.")
set(valdrix_note_valdrix-configurator
    "valdrix-configurator, the configurator's window, with its\n    manual page, launcher, AppStream metainfo and icon.")

# /usr/share/doc/<package>: the copyright file, made from LICENSE, and the changelog, as
# changelog.gz: the version has no Debian revision, so these are native packages.
set(doc ${CMAKE_CURRENT_BINARY_DIR}/doc)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" _ "${license}")
set(VALDRIX_COPYRIGHT ${CMAKE_MATCH_1})
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" license "${license}")
string(STRIP "${license}" license)
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " VALDRIX_LICENSE_TEXT " ${license}")
set(changelogs "")
foreach(VALDRIX_PACKAGE IN LISTS valdrix_packages)
  set(dir ${doc}/${VALDRIX_PACKAGE})
  set(VALDRIX_RELEASE_NOTE "${valdrix_note_${VALDRIX_PACKAGE}}")
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${dir}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${dir}/changelog @ONLY)
  add_custom_command(OUTPUT ${dir}/changelog.gz
                     COMMAND gzip -9nkf ${dir}/changelog
                     DEPENDS ${dir}/changelog VERBATIM)
  list(APPEND changelogs ${dir}/changelog.gz)
  install(FILES ${dir}/copyright ${dir}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${VALDRIX_PACKAGE} COMPONENT ${VALDRIX_PACKAGE})
endforeach()
add_custom_target(valdrix_changelog ALL DEPENDS ${changelogs})
include(CPack)
