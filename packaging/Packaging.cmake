# The Debian package of Lumora, made by CPack from the install rules of the whole tree:
#   cpack -G DEB --config <build dir>/CPackConfig.cmake
# (scripts/package configures, builds and runs it). The package declares what it needs and
# bundles nothing: the libraries it links are found by dpkg-shlibdeps, and what is loaded at
# run time by name (libVLC's plugins and their cache generator, a font with Arabic letters)
# is listed here.

include(GNUInstallDirs)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_CURRENT_LIST_DIR}/changelog
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumora developers")
set(CPACK_PACKAGE_CONTACT "Lumora developers <lumora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "catalogue and player of Arabic internet radio")
# The long description as dpkg shows it: lines of at most 79 columns, paragraphs apart.
set(CPACK_PACKAGE_DESCRIPTION [=[
Lumora lists 158 Arabic internet radio stations on 17 pages, one per country
of the Arab world and one of assorted stations, and plays them with an
embedded libVLC player on each page; several pages can play at once. The
interface is Arabic and reads right to left.

The network endpoints of the stations come from an endpoint configuration,
lumora/endpoints.conf in the XDG configuration locations. The companion tool
lumora-catalogue lists the stations and checks that file; lumora-station-sim
serves every station address on loopback for tests and demonstrations.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian's layout of the staged files: /usr/share/doc/lumora, compressed manual pages.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-layout.cmake)
set(CPACK_LUMORA_DOCDIR ${CMAKE_INSTALL_DOCDIR})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libvlc-bin, vlc-plugin-base, vlc-plugin-video-output, fonts-dejavu-core | fonts-hosny-amiri")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
