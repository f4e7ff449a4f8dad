# Installing: the program, its desktop entry (so it shows in a desktop's menu and can open
# folders), its icons and its manual page, in the standard places under the prefix; and
# `cpack -G DEB`, a Debian package whose dependencies are read from the built program.
include(GNUInstallDirs)

set(TRAWLEX_SUMMARY "find a text in every file of a folder tree and replace the finds you select")

install(TARGETS trawlex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

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
set(CPACK_PACKAGE_DESCRIPTION
    "Trawlex finds a piece of text in every file of a directory tree, lists each file and line\nwith finds, previews the lines around them and replaces the finds the user selects.\nFiles are handled as bytes, so nothing but the selected finds changes.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantorel" CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links come from the binary (dpkg-shlibdeps); Qt's platform plugins
# are loaded at run time, so no library names them, and without them no window can open.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TRAWLEX_WITH_QT)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
include(CPack)
