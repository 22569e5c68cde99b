# The Windows installer, valdrix-configurator-<version>-win32.msi, beside the zip and made from it:
# every file the zip holds goes to the same place under the install folder (wixl-heat lists them),
# so what the zip gains the installer gains. Run by CPack after the zip (CPACK_POST_BUILD_SCRIPTS),
# or as a script with another version (the upgrade test):
#   cmake -DVALDRIX_MSI_ZIP=<zip> -DVALDRIX_MSI_WXS=<build>/valdrix-configurator.wxs
#         -DVALDRIX_MSI_VERSION=<version> -DVALDRIX_MSI_OUT=<msi> -P cmake/msi.cmake
if(CPACK_PACKAGE_FILES)
  list(FILTER CPACK_PACKAGE_FILES INCLUDE REGEX "\\.zip$")
  set(VALDRIX_MSI_ZIP ${CPACK_PACKAGE_FILES})
  set(VALDRIX_MSI_VERSION ${CPACK_PACKAGE_VERSION})
  set(VALDRIX_MSI_WXS ${CPACK_VALDRIX_MSI_WXS})
  set(VALDRIX_MSI_OUT ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
endif()
foreach(pair wixl=wixl wixl-heat=wixl msibuild=msitools msiinfo=msitools)
  string(REPLACE "=" ";" pair ${pair})
  list(GET pair 0 program)
  list(GET pair 1 package)
  find_program(VALDRIX_${program} ${program})
  if(NOT VALDRIX_${program})
    message(FATAL_ERROR "${program} is missing (Debian package ${package}): no Windows installer")
  endif()
endforeach()

get_filename_component(work ${VALDRIX_MSI_OUT} DIRECTORY)
set(work ${work}/msi-${VALDRIX_MSI_VERSION})
file(REMOVE_RECURSE ${work})
file(ARCHIVE_EXTRACT INPUT ${VALDRIX_MSI_ZIP} DESTINATION ${work}/files)
file(GLOB_RECURSE files LIST_DIRECTORIES false ${work}/files/*)
list(SORT files)
list(JOIN files "\n" files)
file(WRITE ${work}/files.txt "${files}\n")
execute_process(COMMAND ${VALDRIX_wixl-heat} --var var.SourceDir --prefix ${work}/files/
                        --directory-ref INSTALLDIR --component-group ZipFiles
                INPUT_FILE ${work}/files.txt OUTPUT_FILE ${work}/files.wxs
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${VALDRIX_wixl} -a x86 -D Version=${VALDRIX_MSI_VERSION}
                        -D SourceDir=files -o ${VALDRIX_MSI_OUT} ${VALDRIX_MSI_WXS} files.wxs
                WORKING_DIRECTORY ${work}
                COMMAND_ERROR_IS_FATAL ANY)
# What wixl has no words for. The PATH entry of the component PathEntry (the template's): set at
# the end of the system PATH on install, removed on uninstall. And the major upgrade takes a build
# of this same version too (its other product code would otherwise make a second Apps entry).
execute_process(COMMAND ${VALDRIX_msiinfo} export ${VALDRIX_MSI_OUT} Upgrade
                OUTPUT_VARIABLE upgrade COMMAND_ERROR_IS_FATAL ANY)
# The row that finds what to replace: migrate features (1) and the upper bound inclusive (512).
string(REGEX REPLACE "\t1(\t[^\t]*\tWIX_UPGRADE_DETECTED)" "\t513\\1" inclusive "${upgrade}")
if(inclusive STREQUAL upgrade)
  message(FATAL_ERROR "${VALDRIX_MSI_OUT}: no major upgrade in the Upgrade table")
endif()
file(WRITE ${work}/Upgrade.idt "${inclusive}")
set(q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES")
execute_process(COMMAND ${VALDRIX_msibuild} ${VALDRIX_MSI_OUT} -i ${work}/Upgrade.idt
  -q "CREATE TABLE `Environment` (`Environment` CHAR(72) NOT NULL, `Name` CHAR(255) NOT NULL \
LOCALIZABLE, `Value` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `Environment`)"
  -q "INSERT INTO `Environment` (`Environment`, `Name`, `Value`, `Component_`) \
VALUES ('PathEntry', '=-*PATH', '[~];[INSTALLDIR]', 'PathEntry')"
  -q "${q} ('RemoveEnvironmentStrings', 3300)" -q "${q} ('WriteEnvironmentStrings', 5200)"
  COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${work})
