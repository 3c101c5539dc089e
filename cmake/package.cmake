# package: what `cmake --install` puts where, beyond the programs, and the Debian package that
# `cpack -G DEB` makes of it. Each program's folder installs its own executable into
# CMAKE_INSTALL_BINDIR; this file adds the documentation and the example design and describes
# the package.

# README and docs/ keep their places relative to each other, so the links between them hold
# (the README's to LICENSE and CITATION.cff too).
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
              ${PROJECT_SOURCE_DIR}/CITATION.cff
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES ${PROJECT_SOURCE_DIR}/example/settings.txt
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# What the package needs at run time that scanning the programs' shared libraries cannot see,
# one Debian package (with any version bound) per entry.
set(SPATIALMEMORY_DEB_DEPENDS
    libgl1-mesa-dri      # Mesa's drivers: libGL draws nothing without one
    libegl-mesa0         # spatialmemory-replay: Mesa's EGL, for drawing without a display
    fonts-dejavu-core    # spatialmemory-replay: a font for the legend of the marked pictures
    python3              # spatialmemory-report
    python3-pandas       # spatialmemory-report: reading the results files
    python3-matplotlib)  # spatialmemory-report: its figures
list(JOIN SPATIALMEMORY_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the libraries' packages, found by dpkg-shlibdeps

set(SPATIALMEMORY_MAINTAINER "spatialmemory maintainers"
    CACHE STRING "The Maintainer field of the Debian package, as \"Name <address>\"")

# The copyright file a Debian package carries in its documentation folder, in Debian's
# machine-readable format, with the licence's text from LICENSE (MIT, "Expat" to Debian): each
# line indented by a blank, an empty line as " .".
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE sm_license)
string(FIND "${sm_license}" "Permission is hereby granted" sm_grant)
string(SUBSTRING "${sm_license}" ${sm_grant} -1 sm_license)
string(STRIP "${sm_license}" sm_license)
string(REPLACE "\n" "\n " sm_license " ${sm_license}")
string(REPLACE "\n \n" "\n .\n" SM_LICENSE_TEXT "${sm_license}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/copyright.in ${PROJECT_BINARY_DIR}/copyright @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(CPACK_PACKAGE_NAME spatialmemory)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SPATIALMEMORY_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "full-screen experiment on spatial memory")
set(CPACK_PACKAGE_DESCRIPTION
    "A subject watches a board of cells through a layer of colour noise with holes; the holes
over the targets show red. The layer beneath slides by one cell, the board turns, and after a
wait the subject clicks where the targets are now. Every click is scored and recorded in
results files beside the design, trial by trial.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # spatialmemory_<version>_<arch>.deb
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
