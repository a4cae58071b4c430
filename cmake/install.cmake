# Where `cmake --install` puts the programs and their desktop files, and the
# Debian package that `scripts/package` makes from the same install tree.
include(GNUInstallDirs)

if(TARGET downloader)
  install(TARGETS downloader RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET downloader-window)
  install(TARGETS downloader-window RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/downloader)
endif()
if(TARGET downloader-publish)
  install(TARGETS downloader-publish RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The file id "downloader.desktop" is the one the taskbar progress names, so
# the launcher entry and the running window are matched by it.
install(FILES ${PROJECT_SOURCE_DIR}/resources/downloader.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/downloader.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/completions/downloader
              ${PROJECT_SOURCE_DIR}/resources/completions/downloader-publish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The software centre's entry: its release list is the changelog's newest
# entry, so that the version, the date and the notes are written once.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/debian/changelog.in changelog_lines)
set(DOWNLOADER_RELEASE_NOTES "")
set(DOWNLOADER_RELEASE_DATE "")
foreach(line IN LISTS changelog_lines)
  if(line MATCHES "^  \\* (.*)$")
    string(REPLACE "&" "&amp;" note "${CMAKE_MATCH_1}")
    string(REPLACE "<" "&lt;" note "${note}")
    string(APPEND DOWNLOADER_RELEASE_NOTES "<p>${note}</p>")
  elseif(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9]+) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND months ${CMAKE_MATCH_2} month)
    math(EXPR month "${month} + 1")
    string(LENGTH "${CMAKE_MATCH_1}" day_digits)
    set(day "${CMAKE_MATCH_1}")
    if(day_digits EQUAL 1)
      set(day "0${day}")
    endif()
    if(month LESS 10)
      set(month "0${month}")
    endif()
    set(DOWNLOADER_RELEASE_DATE "${CMAKE_MATCH_3}-${month}-${day}")
    break()  # only the newest entry
  endif()
endforeach()
if(DOWNLOADER_RELEASE_DATE STREQUAL "" OR DOWNLOADER_RELEASE_NOTES STREQUAL "")
  message(FATAL_ERROR "resources/debian/changelog.in: no dated entry with notes at its top")
endif()
set(metainfo_id io.github.corvane.downloader)
configure_file(${PROJECT_SOURCE_DIR}/resources/${metainfo_id}.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/metainfo/${metainfo_id}.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/metainfo/${metainfo_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian ships man pages and changelogs compressed; -n leaves the name and
# time out of the gzip header, so that two builds of one source give the same
# bytes.
find_program(DOWNLOADER_GZIP gzip REQUIRED)
set(compressed_files)
function(downloader_compress source compressed)
  get_filename_component(folder ${compressed} DIRECTORY)
  add_custom_command(OUTPUT ${compressed}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
      COMMAND ${DOWNLOADER_GZIP} -n -9 -c ${source} > ${compressed}
      DEPENDS ${source}
      COMMENT "Compressing ${source}"
      VERBATIM)
  set(compressed_files ${compressed_files} ${compressed} PARENT_SCOPE)
endfunction()

# The man pages and the changelog take the version from project(VERSION).
set(man_pages)
foreach(page downloader.1 downloader-publish.1)
  configure_file(${PROJECT_SOURCE_DIR}/resources/man/${page}.in ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  downloader_compress(${PROJECT_BINARY_DIR}/man/${page} ${PROJECT_BINARY_DIR}/man/${page}.gz)
  list(APPEND man_pages ${PROJECT_BINARY_DIR}/man/${page}.gz)
endforeach()
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(doc_folder ${CMAKE_INSTALL_DATADIR}/doc/downloader)
configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
downloader_compress(${PROJECT_BINARY_DIR}/doc/changelog ${PROJECT_BINARY_DIR}/doc/changelog.gz)
install(FILES ${PROJECT_BINARY_DIR}/doc/changelog.gz ${PROJECT_SOURCE_DIR}/resources/debian/copyright
        DESTINATION ${doc_folder})
add_custom_target(downloader_compressed_docs ALL DEPENDS ${compressed_files})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME downloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Corvane)
set(CPACK_PACKAGE_CONTACT "Corvane <support@corvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "download wizard for product releases")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane <support@corvane.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack puts the summary above this text and indents it as Debian's control
# format wants; the empty line becomes the " ." paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Downloader fetches every file of one product release from the vendor's web
server into a folder the user picks, gives each file three attempts, checks
each against its SHA-1 checksum, shows per-file and overall progress with
the time left, and finally starts the release's setup program. It runs as a
window or, with --silent, on a terminal.

downloader-publish is the vendor's side: it writes the info file that
describes a release folder, and can serve the folder on 127.0.0.1 for a
trial run.")
# dpkg-shlibdeps works the library packages out from the programs themselves.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Install and link buttons hand documents and addresses to xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS xdg-utils)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
