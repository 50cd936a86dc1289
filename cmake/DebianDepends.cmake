# Read by cpack before it makes a package: without dpkg-shlibdeps
# (CPACK_DEBIAN_PACKAGE_SHLIBDEPS off at configure time, or
# `cpack -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF`) the Depends field is the
# plain list of Debian 12's packages set in cmake/Packaging.cmake.
if(NOT CPACK_DEBIAN_PACKAGE_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CPACK_TARNFITS_PLAIN_DEPENDS}")
endif()
