# ERFA, the library of fundamental astronomy that the tests take their
# reference values from, found through pkg-config as Debian's liberfa-dev
# installs it. Gives ERFA_FOUND and the target PkgConfig::ERFA. Being a
# find module, it honours -DCMAKE_DISABLE_FIND_PACKAGE_ERFA=TRUE.
find_package(PkgConfig QUIET)
if(PKG_CONFIG_FOUND)
  pkg_check_modules(ERFA QUIET IMPORTED_TARGET erfa)
endif()
include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(ERFA REQUIRED_VARS ERFA_LINK_LIBRARIES VERSION_VAR ERFA_VERSION)
