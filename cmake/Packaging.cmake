# Installation and the Debian package: the five programs go to bin/, their
# manual pages to share/man/man1/, the pages of docs/ to share/doc/tarnfits/
# (the manual pages point there). Nothing else is installed (no sample-night
# generator, no tests); the package adds Debian's copyright file and
# changelog beside the docs.
#
#   cmake --build build
#   cmake --install build --prefix /usr/local
#   cd build && cpack -G DEB        # tarnfits_<version>_<arch>.deb
include(GNUInstallDirs)

# Installing and packaging take what the build made; they do not build first
# (so cpack in the tests never starts a build).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# Everything below is the component tarnfits, which cpack installs by name:
# so it records its staging files in install_manifest_tarnfits.txt and
# leaves install_manifest.txt to the last real `cmake --install`.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME tarnfits)

install(TARGETS tarnfits tarnfits4 tarnfits4s tarnlook tarnindex
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages are installed compressed, as Debian keeps them; gzip -n leaves
# the file name and time out, so the same page always gives the same bytes.
set(TARNFITS_MAN_PAGES tarnfits.1 tarnfits4.1 tarnfits4s.1 tarnlook.1 tarnindex.1)
find_program(TARNFITS_GZIP gzip)
if(TARNFITS_GZIP)
  set(compressed_pages)
  foreach(page ${TARNFITS_MAN_PAGES})
    set(source ${PROJECT_SOURCE_DIR}/man/${page})
    set(copy ${PROJECT_BINARY_DIR}/man/${page})
    add_custom_command(OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
      COMMAND ${TARNFITS_GZIP} -9 -n -f ${copy}
      DEPENDS ${source}
      COMMENT "Compressing manual page ${page}"
      VERBATIM)
    list(APPEND compressed_pages ${copy}.gz)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${compressed_pages})
  install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  list(TRANSFORM TARNFITS_MAN_PAGES PREPEND ${PROJECT_SOURCE_DIR}/man/
       OUTPUT_VARIABLE plain_pages)
  install(FILES ${plain_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The user guide and its neighbour pages, as they stand in docs/, with the
# commented sample of tarnlook's site file (docs/site.conf): it goes to
# share/doc/tarnfits/site.conf, for the observatory to copy to
# /etc/tarnlook/site.conf with its own numbers. A sample, not a conffile:
# the package never writes into /etc, and a site without the file judges
# its nights as before.
file(GLOB TARNFITS_DOC_PAGES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*)
install(FILES ${TARNFITS_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package.
set(TARNFITS_PACKAGE_MAINTAINER "Observatory software team <observatory@example.org>"
  CACHE STRING "Maintainer field of the Debian package: Name <address>")

set(CPACK_PACKAGE_NAME tarnfits)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "36-inch reflector observatory")
set(CPACK_PACKAGE_CONTACT ${TARNFITS_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "convert the 36-inch reflector's CCD camera files into FITS, draw the night")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};tarnfits;tarnfits;/")
# The package's copyright file and changelog (cmake/debian/), added by
# cmake/DebianDocs.cmake in cpack's staging folder.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianDocs.cmake)
set(CPACK_TARNFITS_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/cmake/debian)
find_program(CPACK_TARNFITS_GZIP gzip REQUIRED)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNFITS_PACKAGE_MAINTAINER})
# The first Debian revision of the upstream version: Version 1.0.0-1, as the
# changelog's first line says (bump both together).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The long description, as plain paragraphs: CPack puts the summary in
# front of it and indents it as a control file wants it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Five batch programs for the night's folder of camera files, run list
(tarnlist.dat) and object catalogue (object.lst).

tarnfits converts T5, S5 and Andor DV440 camera files into FITS files
with a 72-card astronomical header (target position, J2000 position,
mid-exposure UT, Julian day, sidereal time, zenith distance, airmass,
observing conditions).

tarnfits4 rewrites 32-bit Andor DV440 files as 16-bit files; tarnfits4s
rewrites 16-bit Andor DV440 files for unsigned samples.

tarnlook draws a contact sheet of the night's FITS frames as PNG
pictures, a thumbnail per frame stretched between its zscale limits and
labelled from its header, and writes the morning report beside it: a web
page (tarnlook.html) with each thumbnail linked to its row in a table of
the header values, and the same table as CSV (tarnlook.csv).

tarnindex reads the tables of every night folder of an archive into one
SQLite database (tarnindex.sqlite), brought up to date night by night,
writes the archive's page over the years (tarnindex.html) and a table of
nights (tarnindex.csv), and finds frames by what they show
(tarnindex find).")

# The converters need only the C library (the C++ run-time is linked into
# them unless TARNFITS_STATIC_CXX_RUNTIME is off); tarnlook also needs the
# CFITSIO, libgd and SEP run-time libraries, tarnindex those and SQLite's. dpkg-shlibdeps (Debian package
# dpkg-dev) computes the packages and their versions; without it the
# package names Debian 12's packages without versions (cmake/DebianDepends.cmake
# puts that list in when cpack runs with CPACK_DEBIAN_PACKAGE_SHLIBDEPS off).
find_program(TARNFITS_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(TARNFITS_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
endif()
if(TARNFITS_STATIC_CXX_RUNTIME)
  set(CPACK_TARNFITS_PLAIN_DEPENDS "libc6, libcfitsio10, libgd3, libgsl27, libsep0, libsqlite3-0")
else()
  set(CPACK_TARNFITS_PLAIN_DEPENDS "libc6, libgcc-s1, libstdc++6, libcfitsio10, libgd3, libgsl27, libsep0, libsqlite3-0")
endif()
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/DebianDepends.cmake)

include(CPack)
