# Read by cpack before it packages. The library package's dependencies come from dpkg-shlibdeps
# on the built library here rather than from CPack's own run of it: CPack adds a postinst and a
# postrm that call ldconfig to every package whose libraries it examined under /usr/lib, and the
# library package uses dpkg's ldconfig trigger instead (packaging/libtrelink/triggers).
if(CPACK_GENERATOR STREQUAL "DEB")
  include(${CPACK_FLASHDESK_LIBRARY_FILE_SCRIPT})  # sets flashdesk_library_file
  set(work ${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/shlibdeps)
  file(REMOVE_RECURSE ${work})
  file(WRITE ${work}/debian/control "")
  execute_process(COMMAND dpkg-shlibdeps -O ${flashdesk_library_file}
                  WORKING_DIRECTORY ${work} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT out MATCHES "shlibs:Depends=([^\n]+)")
    message(FATAL_ERROR "dpkg-shlibdeps ${flashdesk_library_file} failed: ${err}")
  endif()
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "${CMAKE_MATCH_1}")
endif()
