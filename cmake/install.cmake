# Where a Debian system expects the program's files, and the .deb package.
include(GNUInstallDirs)

install(TARGETS dovrane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET dovrane-mkinstall)
  install(TARGETS dovrane-mkinstall RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# The main window's program, which the program hands a run over to in dialog mode.
if(TARGET dovrane-window)
  install(TARGETS dovrane-window RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/dovrane)
endif()
# The language files and images; the program finds them in ../share/dovrane/res.
# The desktop's files (entry, AppStream data, themed icons) go where the
# desktop looks for them instead.
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/ DESTINATION ${CMAKE_INSTALL_DATADIR}/dovrane/res
        PATTERN "dovrane.desktop" EXCLUDE PATTERN "*.metainfo.xml" EXCLUDE PATTERN "hicolor" EXCLUDE)

# The manual pages, made from docs/*.1.md at build time; installed
# compressed, as Debian keeps manual pages.
find_package(Python3 COMPONENTS Interpreter)
find_program(DOVRANE_GZIP gzip)
if(Python3_FOUND AND DOVRANE_GZIP)
  set(DOVRANE_MAN_PAGES)
  foreach(page dovrane dovrane-mkinstall)
    set(man ${CMAKE_BINARY_DIR}/${page}.1)
    add_custom_command(OUTPUT ${man} ${man}.gz
      COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/md2man.py ${CMAKE_SOURCE_DIR}/docs/${page}.1.md
              ${man} ${PROJECT_VERSION}
      COMMAND ${DOVRANE_GZIP} -9nkf ${man}
      DEPENDS ${CMAKE_SOURCE_DIR}/docs/${page}.1.md ${CMAKE_SOURCE_DIR}/scripts/md2man.py
      COMMENT "Manual page ${page}.1")
    list(APPEND DOVRANE_MAN_PAGES ${man} ${man}.gz)
    install(FILES ${man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(dovrane_man ALL DEPENDS ${DOVRANE_MAN_PAGES})
endif()

# The desktop entry, its AppStream data and the icon: scalable, and in the
# fixed sizes of the icon theme (scripts/render-icons.sh makes them).
install(FILES ${CMAKE_SOURCE_DIR}/res/dovrane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/res/com.varnholtek.dovrane.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/res/icons/dovrane.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/icons/hicolor/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)

# What Debian asks of every package: the copyright and the changelog, compressed.
configure_file(${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
if(DOVRANE_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
    COMMAND ${DOVRANE_GZIP} -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog ${CMAKE_SOURCE_DIR}/cmake/debian/changelog.in
    COMMENT "Debian changelog")
  add_custom_target(dovrane_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(FILES ${CMAKE_SOURCE_DIR}/cmake/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(FILES ${CMAKE_SOURCE_DIR}/scripts/dovrane-completion.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dovrane)

# cpack -G DEB: the dependencies are the Debian packages of the libraries the
# program links, found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME dovrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dovrane maintainers <dovrane@varnholtek.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Administration tool of a CAD system's network installation")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libsmbclient is loaded when the network is browsed, so no file names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsmbclient)
if(TARGET dovrane-window)
  # Qt's own buttons (Yes, No, Cancel) in German.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-translations-l10n)
endif()
# The control file's long description, after the summary line.
set(CPACK_PACKAGE_DESCRIPTION "Shows the data servers of a CAD network installation with their
projects and copies, moves, renames, creates and deletes projects between
them; checks a computer or a project out for work away from the office and
in again. Its command line does the same for scripts and answers queries
about projects. The main window speaks English and German.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
