# The documents installed with the programs, and the two packages that CPack
# makes of whatever is installed:
#   Linux build:   cpack --config BUILD/CPackConfig.cmake -B dist
#                  -> dist/velkrin_VERSION_amd64.deb
#   Windows build: the same from the MinGW-w64 build folder
#                  -> dist/velkrin-VERSION-windows-x64.zip
# The README says how; scripts/check.sh builds and checks both.

# velkrin-journal is installed and packaged like the other programs, whether
# or not its own CMakeLists.txt calls velkrin_install_program().
if(TARGET velkrin-journal)
  get_property(velkrin_programs GLOBAL PROPERTY VELKRIN_INSTALLED_PROGRAMS)
  if(NOT "velkrin-journal" IN_LIST velkrin_programs)
    velkrin_install_program(velkrin-journal)
  endif()
endif()
get_property(velkrin_programs GLOBAL PROPERTY VELKRIN_INSTALLED_PROGRAMS)

set(velkrin_docs ${PROJECT_SOURCE_DIR}/docs)
set(velkrin_packaging ${PROJECT_SOURCE_DIR}/packaging)

if(WIN32)
  # The ZIP's top folder: the programs, the guide that a double click opens
  # in the browser, the French read-me and the licence. The two text files
  # get CRLF line ends here, and the read-me a UTF-8 BOM, so that every
  # Notepad shows them right; their sources stay plain UTF-8 with LF.
  function(velkrin_windows_text source output bom)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} text)
    string(REPLACE "\r" "" text "${text}")
    set(prefix "")
    if(bom)
      string(ASCII 239 187 191 prefix)
    endif()
    file(CONFIGURE OUTPUT ${output} CONTENT "${prefix}${text}" @ONLY NEWLINE_STYLE CRLF)
  endfunction()

  # The country file (cty.csv, MIT licence), taken from Debian's
  # hamradio-files on the build machine, never kept in the repository: it
  # goes beside the programs, in the ZIP and in the build folder (where the
  # end-to-end tests run them under Wine), with its licence notice. Without
  # it, the ZIP is made without them.
  set(VELKRIN_COUNTRY_FILE /usr/share/hamradio-files/cty.csv CACHE FILEPATH
      "The country file shipped beside the Windows programs")
  set(VELKRIN_COUNTRY_COPYRIGHT_FILE /usr/share/doc/hamradio-files/copyright CACHE FILEPATH
      "The Debian copyright file of the country file: its copyright and licence")
  set(velkrin_country_copyright "")
  set(velkrin_country_licence "")
  if(EXISTS ${VELKRIN_COUNTRY_COPYRIGHT_FILE})
    # Debian's machine-readable format: the copyright of "Files: *", and the
    # text of "License: MIT", each of its lines indented by one blank and
    # its empty lines written " .".
    file(READ ${VELKRIN_COUNTRY_COPYRIGHT_FILE} velkrin_copyright_text)
    if(velkrin_copyright_text MATCHES "Files: \\*\nCopyright: ([^\n]+)")
      set(velkrin_country_copyright "${CMAKE_MATCH_1}")
    endif()
    if(velkrin_copyright_text MATCHES "\nLicense: MIT\n(( [^\n]*\n)+)")
      string(REGEX REPLACE "(^|\n) \\.?" "\\1" velkrin_country_licence "${CMAKE_MATCH_1}")
    endif()
  endif()
  set(velkrin_ships_countries FALSE)
  if(NOT EXISTS ${VELKRIN_COUNTRY_FILE})
    message(STATUS "No country file ${VELKRIN_COUNTRY_FILE} (Debian package hamradio-files): "
                   "the ZIP is made without cty.csv")
  elseif(velkrin_country_copyright STREQUAL "" OR velkrin_country_licence STREQUAL "")
    message(STATUS "No copyright and MIT licence of the country file in "
                   "${VELKRIN_COUNTRY_COPYRIGHT_FILE}: the ZIP is made without cty.csv")
  else()
    set(velkrin_ships_countries TRUE)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELKRIN_COUNTRY_FILE}
                 ${VELKRIN_COUNTRY_COPYRIGHT_FILE})
    configure_file(${VELKRIN_COUNTRY_FILE} ${PROJECT_BINARY_DIR}/cty.csv COPYONLY)
    # Filled in first, so that the lines filled in get CR LF too.
    configure_file(${velkrin_packaging}/windows/cty.csv.LICENCE.txt.in
                   ${PROJECT_BINARY_DIR}/windows/cty.csv.LICENCE.filled @ONLY)
    velkrin_windows_text(${PROJECT_BINARY_DIR}/windows/cty.csv.LICENCE.filled
                         ${PROJECT_BINARY_DIR}/windows/cty.csv.LICENCE.txt TRUE)
    install(FILES ${PROJECT_BINARY_DIR}/cty.csv ${PROJECT_BINARY_DIR}/windows/cty.csv.LICENCE.txt
            DESTINATION .)
    # Its two lines in the read-me's list of the folder's files.
    string(CONCAT VELKRIN_LISEZMOI_COUNTRIES
      "  cty.csv              le fichier des pays (entités DXCC) que lisent\n"
      "                       velkrin-adif et velkrin-journal\n"
      "  cty.csv.LICENCE.txt  ses auteurs et sa licence (MIT)\n")
  endif()
  if(NOT velkrin_ships_countries)
    set(VELKRIN_LISEZMOI_COUNTRIES "")
    file(REMOVE ${PROJECT_BINARY_DIR}/cty.csv)
  endif()

  # Filled in first, so that the lines filled in get CR LF too.
  configure_file(${velkrin_packaging}/windows/LISEZMOI.txt.in
                 ${PROJECT_BINARY_DIR}/windows/LISEZMOI.filled @ONLY)
  velkrin_windows_text(${PROJECT_BINARY_DIR}/windows/LISEZMOI.filled
                       ${PROJECT_BINARY_DIR}/windows/LISEZMOI.txt TRUE)
  velkrin_windows_text(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/windows/LICENCE.txt FALSE)
  install(FILES ${velkrin_docs}/guide.html ${PROJECT_BINARY_DIR}/windows/LISEZMOI.txt
                ${PROJECT_BINARY_DIR}/windows/LICENCE.txt
          DESTINATION .)
else()
  # Manual pages (with the version filled in) and the changelog go
  # compressed, as Debian wants them: gzip -9n keeps no name or date inside,
  # so the same sources give the same bytes. The guide stays HTML and the
  # copyright file stays plain.
  find_program(VELKRIN_GZIP gzip)
  set(velkrin_compressed_dir ${PROJECT_BINARY_DIR}/compressed)
  set(velkrin_compressed)
  # how: @ONLY to fill in @PROJECT_VERSION@, COPYONLY to copy as it is.
  function(velkrin_install_compressed source name destination how)
    set(filled ${velkrin_compressed_dir}/filled/${name})
    configure_file(${source} ${filled} ${how})
    if(VELKRIN_GZIP)
      set(copy ${velkrin_compressed_dir}/${name})
      add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${filled} ${copy}
        COMMAND ${VELKRIN_GZIP} -9nf ${copy}
        DEPENDS ${filled} VERBATIM)
      install(FILES ${copy}.gz DESTINATION ${destination})
      set(velkrin_compressed ${velkrin_compressed} ${copy}.gz PARENT_SCOPE)
    else()
      install(FILES ${filled} DESTINATION ${destination})
    endif()
  endfunction()

  foreach(program IN LISTS velkrin_programs)
    if(EXISTS ${velkrin_docs}/man/${program}.1)
      velkrin_install_compressed(${velkrin_docs}/man/${program}.1 ${program}.1
                                 ${CMAKE_INSTALL_MANDIR}/man1 @ONLY)
    endif()
  endforeach()
  velkrin_install_compressed(${PROJECT_SOURCE_DIR}/CHANGELOG.md changelog ${CMAKE_INSTALL_DOCDIR}
                             COPYONLY)
  if(velkrin_compressed)
    add_custom_target(velkrin_compressed_docs ALL DEPENDS ${velkrin_compressed})
  endif()
  install(FILES ${velkrin_docs}/guide.html ${velkrin_packaging}/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME velkrin)
set(CPACK_PACKAGE_VENDOR "Velkrin project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console logbook for radio amateurs, in French")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME velkrin-${PROJECT_VERSION}-windows-x64)
  # The ZIP unpacks into one folder of that name.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # velkrin_VERSION_ARCH.deb
  set(VELKRIN_PACKAGE_MAINTAINER "Velkrin project" CACHE STRING
      "The Maintainer field of the .deb: the project, with its contact address once it has one")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELKRIN_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends: computed from the programs' shared libraries by dpkg-shlibdeps
  # (Debian package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS rlwrap)
  # The country file (cty.csv) that velkrin-adif and velkrin-journal read for
  # DXCC entities, in /usr/share/hamradio-files/.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS hamradio-files)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(velkrin_journal_description "")
  if("velkrin-journal" IN_LIST velkrin_programs)
    string(CONCAT velkrin_journal_description
      " - velkrin-journal looks back into the logbook: worked before,\n"
      "   duplicates, checks before an upload, statistics, CSV files.\n")
  endif()
  # The extended description; CPack puts the summary line above it.
  string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Velkrin keeps a radio amateur's logbook of contacts (QSOs) in a plain,\n"
    "fixed-width text file. Its programs speak French:\n"
    " - velkrin records QSOs at the keyboard and creates the logbook.\n"
    " - velkrin-adif exchanges QSOs in ADIF with other logging programs\n"
    "   and with LoTW, eQSL, QRZ and Club Log.\n"
    "${velkrin_journal_description}"
    "A user guide in French comes with them.")
endif()

include(CPack)
