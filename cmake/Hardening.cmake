# The hardening that Debian builds its packages with, as dpkg-buildflags gives it (with every
# hardening feature asked for): stack protector, fortified library calls, format checks, and
# a read-only relocation table bound at start. Optimisation and debug flags stay the build
# type's own. Not for sanitizer or Windows builds, and the compile flags only where the code
# is optimised (fortified calls need it).
option(TRAWLEX_HARDENING "Build with the hardening flags of dpkg-buildflags" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(TRAWLEX_HARDENING AND DPKG_BUILDFLAGS AND NOT WIN32 AND NOT TRAWLEX_SANITIZE)
  set(hardening_compile "")
  foreach(kind CPPFLAGS CXXFLAGS)
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
    separate_arguments(flags UNIX_COMMAND "${flags}")
    foreach(flag IN LISTS flags)
      if(flag MATCHES "^-(D_FORTIFY_SOURCE|fstack-protector|fstack-clash-protection|fcf-protection|Wformat|Werror=format-security)")
        list(APPEND hardening_compile ${flag})
      endif()
    endforeach()
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get LDFLAGS
                  OUTPUT_VARIABLE hardening_link OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(hardening_link UNIX_COMMAND "${hardening_link}")
  list(FILTER hardening_link INCLUDE REGEX "^-Wl,-z,")
  add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${hardening_compile}>")
  add_link_options(${hardening_link})
endif()
