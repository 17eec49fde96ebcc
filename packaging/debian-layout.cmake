# Run by CPack once the packages' files are staged (CPACK_PRE_BUILD_SCRIPTS), to give each
# package the layout of a Debian package:
# - the documentation folder is named after the package, /usr/share/doc/lumora and
#   /usr/share/doc/lumora-station-sim, whatever CMAKE_INSTALL_DOCDIR a plain `cmake --install`
#   uses;
# - manual pages and the changelog are compressed with gzip -9n (-n leaves the name and time
#   out of the header, so the same text always gives the same bytes).
# Each component is staged in a folder of its own under CPACK_TEMPORARY_INSTALL_DIRECTORY.

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER "${component}" upper)
  set(package "${CPACK_DEBIAN_${upper}_PACKAGE_NAME}")
  set(prefix "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX}")
  if(NOT package OR NOT IS_DIRECTORY "${prefix}")
    message(FATAL_ERROR "no package name or no staged files for component ${component} "
                        "(looked in ${prefix})")
  endif()

  set(docdir "${prefix}/share/doc/${package}")
  set(installed_docdir "${prefix}/${CPACK_LUMORA_DOCDIR}")
  if(NOT installed_docdir STREQUAL docdir AND IS_DIRECTORY "${installed_docdir}")
    file(RENAME "${installed_docdir}" "${docdir}")
  endif()

  file(GLOB_RECURSE staged "${prefix}/share/man/*")
  list(APPEND staged "${docdir}/changelog")
  foreach(file IN LISTS staged)
    if(NOT EXISTS "${file}" OR file MATCHES "\\.gz$")
      continue()
    endif()
    execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "gzip could not compress ${file}")
    endif()
  endforeach()
endforeach()
