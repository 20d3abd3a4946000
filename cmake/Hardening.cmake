# Debian's hardening flags for the Release build, the one that goes into the package: stack
# protector, _FORTIFY_SOURCE, format checks, relro with BINDNOW (PIE is the compiler's default on
# Debian). Taken from dpkg-buildflags with every hardening feature on, so they follow Debian's
# own; the optimisation and debug flags stay the build type's.
option(MOIREX_HARDENING "Build the Release build type with Debian's hardening flags" ON)
if(MOIREX_HARDENING AND CMAKE_BUILD_TYPE STREQUAL "Release")
  find_program(DPKG_BUILDFLAGS dpkg-buildflags)
  if(DPKG_BUILDFLAGS)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
      execute_process(
        COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                ${DPKG_BUILDFLAGS} --get ${kind}
        WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
        OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      separate_arguments(flags UNIX_COMMAND "${flags}")
      list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*)$")
      set(hardening_${kind} ${flags})
    endforeach()
  else()
    set(hardening_CPPFLAGS -Wdate-time -D_FORTIFY_SOURCE=2)
    set(hardening_CXXFLAGS -fstack-protector-strong -fstack-clash-protection -fcf-protection
                           -Wformat -Werror=format-security)
    set(hardening_LDFLAGS -Wl,-z,relro -Wl,-z,now)
  endif()
  add_compile_options(${hardening_CPPFLAGS} ${hardening_CXXFLAGS})
  add_link_options(${hardening_LDFLAGS})
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  message(STATUS "Hardening flags: ${hardening_CPPFLAGS} ${hardening_CXXFLAGS} ${hardening_LDFLAGS}")
endif()
