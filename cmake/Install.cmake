# Installing: the program, its desktop entry (so it shows in a desktop's menu and can open
# folders), its icons and its manual page, in the standard places under the prefix; and
# `cpack -G DEB`, a Debian package whose dependencies are read from the built program.
include(GNUInstallDirs)

set(TRAWLEX_SUMMARY "find a text in every file of a folder tree and replace the finds you select")

install(TARGETS trawlex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set(installed_programs ${CMAKE_INSTALL_BINDIR}/trawlex)
# The search windows' own program, which trawlex runs when there is a display.
if(TARGET trawlex-window)
  install(TARGETS trawlex-window RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/trawlex)
  list(APPEND installed_programs ${CMAKE_INSTALL_LIBEXECDIR}/trawlex/trawlex-window)
endif()
# A stripped program (cpack -G DEB strips it) also leaves out the compiler's notes, as
# Debian's own packages do.
find_program(OBJCOPY NAMES ${CMAKE_OBJCOPY} objcopy)
if(OBJCOPY)
  foreach(program IN LISTS installed_programs)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${OBJCOPY}\" --remove-section=.comment --remove-section=.note
                        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${program}\")
      endif()")
  endforeach()
endif()

if(TRAWLEX_WITH_QT)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/trawlex.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size IN LISTS TRAWLEX_ICON_SIZES)
    install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME trawlex.png)
  endforeach()
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/trawlex.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The manual page comes from the program's own --help and --version, so it never tells
# another story than the program; compressed, as Debian keeps manual pages.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP AND NOT CMAKE_CROSSCOMPILING)
  set(man_page ${CMAKE_BINARY_DIR}/man/trawlex.1)
  add_custom_command(
    OUTPUT ${man_page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY --unset=QT_QPA_PLATFORM
            ${HELP2MAN} --no-info --no-discard-stderr --section=1
            --include=${CMAKE_SOURCE_DIR}/resources/trawlex.h2m
            --output=${man_page} $<TARGET_FILE:trawlex>
    COMMAND ${GZIP} -9nf ${man_page}
    DEPENDS trawlex ${CMAKE_SOURCE_DIR}/resources/trawlex.h2m
    COMMENT "Writing the manual page trawlex.1 from trawlex --help"
    VERBATIM)
  add_custom_target(trawlex_man_page ALL DEPENDS ${man_page}.gz)
  install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "help2man or gzip is missing (scripts/setup installs them): no manual page is built or installed")
endif()

# ---- Debian package ----------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME trawlex)
set(CPACK_PACKAGE_VENDOR "Vantorel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${TRAWLEX_SUMMARY}")
# Lines of at most 80 characters, as Debian's description wants them.
set(CPACK_PACKAGE_DESCRIPTION
    "Trawlex finds a piece of text in every file of a directory tree, lists each\nfile and line with finds, previews the lines around them and replaces the\nfinds the user selects. Files are handled as bytes, so nothing but the\nselected finds changes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(TRAWLEX_DEB_MAINTAINER "Trawlex developers <trawlex@vantorel.example>"
    CACHE STRING "Maintainer field of the Debian package: a name and an address")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TRAWLEX_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links come from the binary (dpkg-shlibdeps); Qt's platform plugins
# are loaded at run time, so no library names them, and without them no window can open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TRAWLEX_WITH_QT)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
# The package's own documents: its copyright in Debian's machine-readable form, its
# changelog, compressed as Debian keeps it, and what lintian says of it that does not apply.
set(TRAWLEX_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
configure_file(${CMAKE_SOURCE_DIR}/resources/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog.Debian @ONLY)
if(GZIP)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND ${GZIP} -9nkf ${CMAKE_BINARY_DIR}/debian/changelog.Debian
    DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian
    VERBATIM)
  add_custom_target(trawlex_deb_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz)
  install(FILES ${CMAKE_BINARY_DIR}/debian/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/trawlex)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/trawlex)
install(FILES ${CMAKE_SOURCE_DIR}/resources/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME trawlex)
include(CPack)
