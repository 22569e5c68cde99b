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
foreach(program wixl wixl-heat)
  find_program(VALDRIX_${program} ${program})
  if(NOT VALDRIX_${program})
    message(FATAL_ERROR "${program} is missing (Debian package wixl): no Windows installer")
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
execute_process(COMMAND ${VALDRIX_wixl-heat} --var var.SourceDir --prefix ${work}/files/ --directory-ref INSTALLDIR
                        --component-group ZipFiles
                INPUT_FILE ${work}/files.txt OUTPUT_FILE ${work}/files.wxs
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${VALDRIX_wixl} -a x86 -D Version=${VALDRIX_MSI_VERSION}
                        -D SourceDir=files -o ${VALDRIX_MSI_OUT} ${VALDRIX_MSI_WXS} files.wxs
                WORKING_DIRECTORY ${work}
                COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${work})
