# The release number lives in one place, the first entry of debian/changelog,
# so that the packages and project(VERSION) cannot disagree. Included before
# project(): it sets KELFILE_VERSION.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog kelfile_release LIMIT_COUNT 1)
if(NOT kelfile_release MATCHES "^kelfile \\(([0-9]+\\.[0-9]+\\.[0-9]+)\\) ")
  message(FATAL_ERROR "debian/changelog does not start with 'kelfile (MAJOR.MINOR.PATCH) ...': ${kelfile_release}")
endif()
set(KELFILE_VERSION ${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog)
