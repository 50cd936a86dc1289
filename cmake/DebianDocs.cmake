# Run by cpack after it has installed into its staging folder, before it
# makes the .deb: the copyright file and the Debian changelog that Debian
# policy asks of every package, in the package's doc folder. Only the
# package gets them; `cmake --install` does not.
set(doc_dir "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/tarnfits")
file(COPY "${CPACK_TARNFITS_DEBIAN_DIR}/copyright" DESTINATION "${doc_dir}"
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The changelog names the package's maintainer; gzip -9 -n as Debian keeps
# it (no file name, no time: the same text always gives the same bytes).
configure_file("${CPACK_TARNFITS_DEBIAN_DIR}/changelog.in" "${doc_dir}/changelog.Debian" @ONLY)
execute_process(COMMAND "${CPACK_TARNFITS_GZIP}" -9 -n -f "${doc_dir}/changelog.Debian"
  RESULT_VARIABLE gzip_status)
if(NOT gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${doc_dir}/changelog.Debian")
endif()
