# The build's number, time and web site address, compiled in through generated headers.

set(TRAWLEX_BUILD_NUMBER 0 CACHE STRING "Build number shown after the version (\"0.1.0  Build 57\")")
if(NOT TRAWLEX_BUILD_NUMBER MATCHES "^[0-9]+$" OR TRAWLEX_BUILD_NUMBER GREATER 65535)
  message(FATAL_ERROR "TRAWLEX_BUILD_NUMBER must be a whole number from 0 to 65535, not '${TRAWLEX_BUILD_NUMBER}'")
endif()

set(TRAWLEX_SITE_ADDRESS "" CACHE STRING
    "The maker's web site (http:// or https://); the update check fetches trawlexversion.txt from it. Empty: no update check")
if(TRAWLEX_SITE_ADDRESS)
  if(NOT TRAWLEX_SITE_ADDRESS MATCHES "^https?://[^/\"\\\\ ]+(/[^\"\\\\ ]*)?$")
    message(FATAL_ERROR "TRAWLEX_SITE_ADDRESS must be an http:// or https:// address without blanks, quotes or backslashes, not '${TRAWLEX_SITE_ADDRESS}'")
  endif()
  if(NOT TRAWLEX_SITE_ADDRESS MATCHES "/$")
    string(APPEND TRAWLEX_SITE_ADDRESS "/")
  endif()
endif()

# Taken when CMake configures the build; honours SOURCE_DATE_EPOCH.
string(TIMESTAMP TRAWLEX_BUILD_TIME_UTC "%s" UTC)

configure_file(${CMAKE_SOURCE_DIR}/cmake/TrawlexVersion.h.in ${CMAKE_BINARY_DIR}/generated/TrawlexVersion.h @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/cmake/TrawlexBuildInfo.h.in ${CMAKE_BINARY_DIR}/generated/TrawlexBuildInfo.h @ONLY)
