# Installation (GNUInstallDirs) and the Debian package: the three programs, the desktop entry,
# the AppStream metainfo, the icon, the udev rule and the licence.
set(MOIREX_APP_ID io.github.moirex.Moirex)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)

# The metainfo with the project's version and release date; its screenshots are the pictures of
# docs/ as the project's repository serves them.
set(MOIREX_PICTURES https://raw.githubusercontent.com/moirex/moirex/main/docs)
set(MOIREX_METAINFO ${PROJECT_BINARY_DIR}/packaging/${MOIREX_APP_ID}.metainfo.xml)
configure_file(${pkg}/${MOIREX_APP_ID}.metainfo.xml.in ${MOIREX_METAINFO} @ONLY)

if(TARGET moirex)
  install(TARGETS moirex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS moirexctl moirex-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET moirex)
  install(FILES ${pkg}/${MOIREX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${MOIREX_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${pkg}/${MOIREX_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/contrib/60-moirex-serial.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/moirex/contrib)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/moirex)

set(CPACK_PACKAGE_NAME moirex)
set(CPACK_PACKAGE_VENDOR "Moirex")
set(CPACK_PACKAGE_CONTACT "Moirex maintainers <maintainers@moirex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control program of the Moirex laboratory gas and vapour mixer")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries' packages (Qt 6, QCustomPlot, spdlog …) found from the programs' links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_GENERATOR DEB)
include(CPack)
