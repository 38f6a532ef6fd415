# The program's version, kept in one place: the file VERSION at the top of
# the sources, one line "MAJOR.MINOR.PATCH". It is written into a header,
# morvane_version.h in the build folder, which resources/morvane.rc includes
# for the version resource's numbers and texts.
file(STRINGS ${CMAKE_SOURCE_DIR}/VERSION MORVANE_VERSION LIMIT_COUNT 1)
string(STRIP "${MORVANE_VERSION}" MORVANE_VERSION)
if(NOT MORVANE_VERSION MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  message(FATAL_ERROR "VERSION must hold one line MAJOR.MINOR.PATCH, not \"${MORVANE_VERSION}\"")
endif()
set(MORVANE_VERSION_MAJOR ${CMAKE_MATCH_1})
set(MORVANE_VERSION_MINOR ${CMAKE_MATCH_2})
set(MORVANE_VERSION_PATCH ${CMAKE_MATCH_3})
# A changed VERSION configures the build again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/VERSION)

set(MORVANE_VERSION_DIR ${CMAKE_BINARY_DIR}/version)
file(CONFIGURE OUTPUT ${MORVANE_VERSION_DIR}/morvane_version.h CONTENT
"// Written by cmake/version.cmake from the file VERSION; do not edit.
#define MORVANE_VERSION_MAJOR @MORVANE_VERSION_MAJOR@
#define MORVANE_VERSION_MINOR @MORVANE_VERSION_MINOR@
#define MORVANE_VERSION_PATCH @MORVANE_VERSION_PATCH@
#define MORVANE_VERSION_TEXT \"@MORVANE_VERSION@\"
" @ONLY)
