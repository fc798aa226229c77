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
install(DIRECTORY ${CMAKE_SOURCE_DIR}/res/ DESTINATION ${CMAKE_INSTALL_DATADIR}/dovrane/res
        PATTERN "dovrane.desktop" EXCLUDE)

# The manual page, made from docs/dovrane.1.md at build time.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  set(DOVRANE_MAN ${CMAKE_BINARY_DIR}/dovrane.1)
  add_custom_command(OUTPUT ${DOVRANE_MAN}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/md2man.py ${CMAKE_SOURCE_DIR}/docs/dovrane.1.md
            ${DOVRANE_MAN} ${PROJECT_VERSION}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/dovrane.1.md ${CMAKE_SOURCE_DIR}/scripts/md2man.py
    COMMENT "Manual page dovrane.1")
  add_custom_target(dovrane_man ALL DEPENDS ${DOVRANE_MAN})
  install(FILES ${DOVRANE_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The desktop entry and the icon, once they are part of the sources.
if(EXISTS ${CMAKE_SOURCE_DIR}/res/dovrane.desktop)
  install(FILES ${CMAKE_SOURCE_DIR}/res/dovrane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/res/icons/dovrane.svg)
  install(FILES ${CMAKE_SOURCE_DIR}/res/icons/dovrane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/scripts/dovrane-completion.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME dovrane)

# cpack -G DEB: the dependencies are the Debian packages of the libraries the
# program links, found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME dovrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "dovrane maintainers <dovrane@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Administration tool of a CAD system's network installation")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# libsmbclient is loaded when the network is browsed, so no file names it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS libsmbclient)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
