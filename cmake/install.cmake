# What "cmake --install" puts where. The win32 build: the two Windows programs, with the
# README.txt and LICENSE that go into the zip beside them. The native build: valdrix-config and
# valdrix-sim, their man pages (made from their --help by help2man) and the bash completion.
include(GNUInstallDirs)
set(valdrix_packaging ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  foreach(program valdrixconfig valdrix-config)
    if(TARGET ${program})
      install(TARGETS ${program} RUNTIME DESTINATION .)
    endif()
  endforeach()
  # The exit statuses as valdrix-config --help lists them, from the one table.
  file(STRINGS ${PROJECT_SOURCE_DIR}/cli/exit_statuses.def statuses
       REGEX "^VALDRIX_EXIT(_SIGNALLED)?\\(")
  set(VALDRIX_EXIT_STATUSES "")
  foreach(line IN LISTS statuses)
    string(REGEX REPLACE "^VALDRIX_EXIT(_SIGNALLED)?\\(([A-Z_]+, )?\"?([0-9N+]+)\"?, \"(.*)\"\\)$"
                         "  \\3  \\4\n" entry "${line}")
    string(APPEND VALDRIX_EXIT_STATUSES "${entry}")
  endforeach()
  string(REGEX REPLACE "\n$" "" VALDRIX_EXIT_STATUSES "${VALDRIX_EXIT_STATUSES}")
  # The console events that stop it, with their statuses, from the table the program uses.
  file(STRINGS ${PROJECT_SOURCE_DIR}/interrupt/console_events.def events
       REGEX "^VALDRIX_CONSOLE_EVENT\\(")
  set(VALDRIX_CONSOLE_STATUSES "")
  foreach(line IN LISTS events)
    string(REGEX MATCH ", ([0-9]+), \"(.*)\"\\)$" matched "${line}")
    math(EXPR status "128 + ${CMAKE_MATCH_1}")
    list(APPEND VALDRIX_CONSOLE_STATUSES "${CMAKE_MATCH_2} ${status}")
  endforeach()
  list(JOIN VALDRIX_CONSOLE_STATUSES ", " VALDRIX_CONSOLE_STATUSES)
  # The line rates, from the one list the programs are built from.
  file(STRINGS ${PROJECT_SOURCE_DIR}/serial/serial_port.h rates REGEX "^#define VALDRIX_LINE_RATES")
  string(REGEX MATCHALL "X\\([0-9]+\\)" rates "${rates}")
  string(REGEX REPLACE "X\\(([0-9]+)\\)" "\\1" rates "${rates}")
  list(POP_BACK rates last)
  list(JOIN rates ", " VALDRIX_LINE_RATES)
  string(APPEND VALDRIX_LINE_RATES " or ${last}")
  file(READ ${valdrix_packaging}/settings.txt VALDRIX_SETTINGS)
  file(READ ${valdrix_packaging}/troubleshooting.txt VALDRIX_TROUBLESHOOTING)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
               ${valdrix_packaging}/settings.txt ${valdrix_packaging}/troubleshooting.txt
               ${PROJECT_SOURCE_DIR}/interrupt/console_events.def
               ${PROJECT_SOURCE_DIR}/serial/serial_port.h)
  # Notepad and its kin on older Windows want CRLF: NEWLINE_STYLE converts the template's own line
  # ends, not those inside the values put into it.
  foreach(text VALDRIX_EXIT_STATUSES VALDRIX_SETTINGS VALDRIX_TROUBLESHOOTING)
    string(REPLACE "\n" "\r\n" ${text} "${${text}}")
  endforeach()
  configure_file(${valdrix_packaging}/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
  # valdrix-config.exe reads its catalogues from beside itself.
  foreach(language IN LISTS VALDRIX_LANGUAGES)
    install(FILES ${VALDRIX_LOCALE_BUILD_DIR}/${language}/LC_MESSAGES/valdrix.mo
            DESTINATION locale/${language}/LC_MESSAGES)
  endforeach()
  return()
endif()

if(NOT TARGET valdrix-config OR NOT TARGET valdrix-sim)
  return()
endif()
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME valdrix-config)
set(valdrix_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(TARGET valdrix-configurator)
  set(gui COMPONENT valdrix-configurator)
  install(TARGETS valdrix-configurator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${gui})
  # The launcher and the metainfo with their translations (Name[de]=, xml:lang="de") from the
  # catalogues.
  set(launcher ${CMAKE_CURRENT_BINARY_DIR}/valdrix-configurator.desktop)
  set(metainfo org.example.valdrix.configurator.metainfo.xml)
  set(metainfo_out ${CMAKE_CURRENT_BINARY_DIR}/${metainfo})
  add_custom_command(OUTPUT ${launcher} ${metainfo_out}
                     COMMAND ${VALDRIX_MSGFMT} --desktop -d ${VALDRIX_PO_DIR}
                             --template ${valdrix_packaging}/valdrix-configurator.desktop -o ${launcher}
                     COMMAND ${VALDRIX_MSGFMT} --xml -d ${VALDRIX_PO_DIR} --template ${metainfo_out}.in
                             -o ${metainfo_out}
                     DEPENDS ${valdrix_packaging}/valdrix-configurator.desktop ${metainfo_out}.in
                             ${VALDRIX_PO_DIR}/LINGUAS ${VALDRIX_PO_FILES}
                     VERBATIM)
  add_custom_target(valdrix_launcher ALL DEPENDS ${launcher} ${metainfo_out})
  install(FILES ${launcher} DESTINATION ${CMAKE_INSTALL_DATADIR}/applications ${gui})
  install(FILES ${valdrix_packaging}/valdrix-configurator.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps ${gui})
  # The release in the metainfo is the project's version, dated as the changelog's entry.
  file(STRINGS ${valdrix_packaging}/changelog.in trailer REGEX "^ -- ")
  string(REGEX MATCH ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9]+) " _ "${trailer}")
  set(day ${CMAKE_MATCH_1})
  set(year ${CMAKE_MATCH_3})
  list(FIND valdrix_months ${CMAKE_MATCH_2} month)
  math(EXPR month "${month} + 1" OUTPUT_FORMAT DECIMAL)
  string(LENGTH "${month}" digits)
  if(digits EQUAL 1)
    set(month 0${month})
  endif()
  set(VALDRIX_RELEASE_DATE ${year}-${month}-${day})
  configure_file(${valdrix_packaging}/valdrix-configurator.metainfo.xml.in ${metainfo}.in @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${metainfo}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo ${gui})
endif()
install(TARGETS valdrix-config valdrix-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(language IN LISTS VALDRIX_LANGUAGES)
  install(FILES ${VALDRIX_LOCALE_BUILD_DIR}/${language}/LC_MESSAGES/valdrix.mo
          DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/${language}/LC_MESSAGES)
endforeach()
install(FILES ${valdrix_packaging}/valdrix-config.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME valdrix-config)

valdrix_find_programs(found "the man pages" help2man=help2man gzip=gzip)
if(NOT found)
  return()
endif()
# help2man runs the program it is given with --help; for the programs a user runs that is a
# script that puts the exit statuses in their own section and, for valdrix-config, adds each
# command's options to the common ones.
foreach(program valdrix-config valdrix-configurator)
  if(TARGET ${program})
    valdrix_runnable(${program} run)
    file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/man/help/${program}
         CONTENT "#!/bin/sh\nexec sh ${valdrix_packaging}/help-for-man.sh ${run} \"$@\"\n"
         FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ)
  endif()
endforeach()
# The settings and the troubleshooting, in the words of README.md and README.txt, as sections of
# the pages of the two programs a user runs.
set(valdrix_user_texts "")
foreach(text settings troubleshooting)
  set(section ${CMAKE_CURRENT_BINARY_DIR}/man/${text}.h2m)
  add_custom_command(
    OUTPUT ${section}
    COMMAND sh ${valdrix_packaging}/text-to-man.sh ${text} ${valdrix_packaging}/${text}.txt
            > ${section}
    DEPENDS ${valdrix_packaging}/text-to-man.sh ${valdrix_packaging}/${text}.txt
    VERBATIM)
  list(APPEND valdrix_user_texts ${section})
endforeach()
# The reason words of --json failures, from the table the program uses, as a section of its page.
set(valdrix_reasons ${CMAKE_CURRENT_BINARY_DIR}/man/reasons.h2m)
add_custom_command(
  OUTPUT ${valdrix_reasons}
  COMMAND sh ${valdrix_packaging}/reasons-to-man.sh ${PROJECT_SOURCE_DIR}/cli/reasons.def
          > ${valdrix_reasons}
  DEPENDS ${valdrix_packaging}/reasons-to-man.sh ${PROJECT_SOURCE_DIR}/cli/reasons.def
  VERBATIM)
function(valdrix_man_page program run name)  # ARGN: more help2man options
  set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
  set(include ${valdrix_packaging}/${program}.h2m)
  set(texts "")
  if(NOT program STREQUAL valdrix-sim)
    foreach(text IN LISTS valdrix_user_texts)
      list(APPEND texts --include ${text})
    endforeach()
  endif()
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${VALDRIX_help2man} --no-info --name ${name} --include ${include} ${texts} ${ARGN}
            --output ${page} ${run}
    COMMAND ${VALDRIX_gzip} -9nf ${page}
    DEPENDS ${program} ${include} ${valdrix_packaging}/help-for-man.sh ${valdrix_user_texts}
            ${valdrix_reasons}
    COMMENT "Man page ${program}(1)"
    VERBATIM)
  set(valdrix_man_pages ${valdrix_man_pages} ${page}.gz PARENT_SCOPE)
endfunction()
valdrix_man_page(valdrix-config ${CMAKE_CURRENT_BINARY_DIR}/man/help/valdrix-config
                 "find a Valdrix interface on a serial port, show and change its settings"
                 --include ${valdrix_reasons})
# valdrix-sim's --version takes a value, so help2man is given the version instead.
valdrix_runnable(valdrix-sim run_sim)
valdrix_man_page(valdrix-sim ${run_sim}
                 "a simulated Valdrix interface on a pseudo-terminal"
                 "--version-string=valdrix-sim ${PROJECT_VERSION}")
install(FILES ${valdrix_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
if(TARGET valdrix-configurator)
  valdrix_man_page(valdrix-configurator ${CMAKE_CURRENT_BINARY_DIR}/man/help/valdrix-configurator
                   "find a Valdrix interface on a serial port and change its settings, in a window")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/man/valdrix-configurator.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${gui})
endif()
add_custom_target(valdrix_man_pages ALL DEPENDS ${valdrix_man_pages})
