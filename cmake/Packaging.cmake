# Installation (GNUInstallDirs) and the Debian package: the programs with their manual pages, the
# desktop entry, the AppStream metainfo, the icon, the udev rule, and the package's copyright
# file and changelog. The version everywhere is the project's (top CMakeLists.txt).
set(MOIREX_APP_ID io.github.moirex.Moirex)
set(pkg ${PROJECT_SOURCE_DIR}/packaging)
set(MOIREX_CONTACT "Moirex maintainers <maintainers@moirex.invalid>")

# The metainfo with the project's version and release date; its screenshots are the pictures of
# docs/ as the project's repository serves them.
set(MOIREX_PICTURES https://raw.githubusercontent.com/moirex/moirex/main/docs)
set(MOIREX_METAINFO ${PROJECT_BINARY_DIR}/packaging/${MOIREX_APP_ID}.metainfo.xml)
configure_file(${pkg}/${MOIREX_APP_ID}.metainfo.xml.in ${MOIREX_METAINFO} @ONLY)

if(TARGET moirex)
  install(TARGETS moirex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(TARGETS moirexctl moirex-sim moirex-guard RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET moirex)
  install(FILES ${pkg}/${MOIREX_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${MOIREX_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${pkg}/${MOIREX_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# The serial adapters' rule into udev's rules folder under the prefix (/usr/lib/udev/rules.d in
# the package; udev reads /usr/local/lib/udev/rules.d as well).
install(FILES ${PROJECT_SOURCE_DIR}/contrib/70-moirex-serial.rules DESTINATION lib/udev/rules.d)

# Manual pages, compressed as Debian wants them (gzip -9n: no name, no time stamp). The page of
# moirexctl is made from the program: one section per command with its --help text.
set(man_dir ${PROJECT_BINARY_DIR}/man)
set(man_pages)
function(moirex_man_page program)
  configure_file(${pkg}/man/${program}.1.in ${man_dir}/${program}.1.in @ONLY)
  if(program STREQUAL "moirexctl")
    add_custom_command(
      OUTPUT ${man_dir}/${program}.1.gz
      # (In a sanitizer build a leak report at exit must not fail the page.)
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              bash ${pkg}/man/moirexctl-man.sh $<TARGET_FILE:moirexctl> ${man_dir}/${program}.1.in
              ${man_dir}/${program}.1
      COMMAND gzip -9n -f ${man_dir}/${program}.1
      DEPENDS moirexctl ${pkg}/man/moirexctl-man.sh ${man_dir}/${program}.1.in
      COMMENT "Manual page of moirexctl from its commands' help")
  else()
    add_custom_command(
      OUTPUT ${man_dir}/${program}.1.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${man_dir}/${program}.1.in ${man_dir}/${program}.1
      COMMAND gzip -9n -f ${man_dir}/${program}.1
      DEPENDS ${man_dir}/${program}.1.in)
  endif()
  install(FILES ${man_dir}/${program}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(man_pages ${man_pages} ${man_dir}/${program}.1.gz PARENT_SCOPE)
endfunction()
foreach(program moirex moirexctl moirex-sim moirex-guard)
  if(TARGET ${program})
    moirex_man_page(${program})
  endif()
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})

# The package's documentation folder: the README, the machine-readable copyright file (the
# licence itself is Debian's /usr/share/common-licenses/GPL-3) and the changelog of a native
# package, its one entry made from the version and its release date.
set(MOIREX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/moirex)
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C date -u -R -d "${MOIREX_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE MOIREX_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${pkg}/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
execute_process(COMMAND gzip -9n -f ${PROJECT_BINARY_DIR}/packaging/changelog COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${pkg}/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${MOIREX_DOC_DIR})

# lintian's overrides for what it mistakes (the package's own, in lintian's folder).
install(FILES ${pkg}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME moirex)

# Stripped as Debian strips its programs: after the symbols (CPACK_STRIP_FILES, or
# `cmake --install --strip`), the compiler's notes .comment and .note go too. Keep this the last
# install rule, so it finds every program installed above.
set(strip_notes [=[
  if(CMAKE_INSTALL_DO_STRIP)
    file(GLOB programs "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@/moirex*")
    foreach(program IN LISTS programs)
      execute_process(COMMAND "@CMAKE_STRIP@" --remove-section=.comment --remove-section=.note
                              "${program}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
]=])
string(CONFIGURE "${strip_notes}" strip_notes @ONLY)
install(CODE "${strip_notes}")

set(CPACK_PACKAGE_NAME moirex)
set(CPACK_PACKAGE_VENDOR "Moirex")
set(CPACK_PACKAGE_CONTACT "${MOIREX_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control program of a laboratory gas and vapour mixer")
set(CPACK_PACKAGE_DESCRIPTION [=[
Moirex drives a laboratory mixer that blends gas A and gas B, each dosed by a
Vögtlin mass flow controller over Modbus RTU, with a fluid dosed by a syringe
pump into an outlet gas of known composition and humidity.
.
The window (moirex) validates the instruments on their serial ports, picks
the controllers' gases, designs mixtures with their mass and volumetric flows,
concentrations and relative humidity, and runs segment programs while the
flows are plotted over time. The command-line tool (moirexctl) does the same
calculations, the instruments' service, their set-up and whole runs without
the window. An instrument emulator (moirex-sim, moirex --emulator) lets a new
user try everything without hardware.]=])
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${MOIREX_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Stripped programs; the hardening flags come from the Release build (top CMakeLists.txt).
set(CPACK_STRIP_FILES ON)
# The libraries' packages (Qt 6, QCustomPlot, spdlog …) found from the programs' links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2")
set(CPACK_GENERATOR DEB)
include(CPack)
