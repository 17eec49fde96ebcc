# The Debian packages of Lumora, made by one CPack run from the install rules of the tree:
#   cpack -G DEB --config <build dir>/CPackConfig.cmake
# (scripts/package configures, builds and runs it). Every install rule names its component:
#   lumora              the program, lumora-catalogue, their manual pages, the desktop entry,
#                       the theme icons and the AppStream metainfo
#   station_sim         lumora-station-sim, the loopback simulator of the stations, and its
#                       manual page; package lumora-station-sim
# so that a user of the program gets neither the simulator nor the libav libraries it encodes
# with. The packages declare what they need and bundle nothing: the libraries each package's
# own programs link are found by dpkg-shlibdeps, and what the program loads by name at run
# time (libVLC's plugins and their cache generator, a font with Arabic letters) is listed here.

include(GNUInstallDirs)

# Each package carries its licence and changelog; debian-layout.cmake moves them into a
# documentation folder named after the package.
set(lumora_components lumora)
if(LUMORA_STATION_SIM)
  list(APPEND lumora_components station_sim)
endif()
foreach(component IN LISTS lumora_components)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${CMAKE_CURRENT_LIST_DIR}/changelog
          DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumora developers")
set(CPACK_PACKAGE_CONTACT "Lumora developers <lumora@example.org>")
# One description per package, its first line the synopsis; CPACK_PACKAGE_DESCRIPTION_SUMMARY
# stays unset, since CPack would put it above both. Lines of at most 79 columns.
set(CPACK_DEBIAN_LUMORA_DESCRIPTION [=[
catalogue and player of Arabic internet radio
Lumora lists 158 Arabic internet radio stations on 17 pages, one per country
of the Arab world and one of assorted stations, and plays them with an
embedded libVLC player on each page; several pages can play at once. The
interface is Arabic and reads right to left.

The network endpoints of the stations come from an endpoint configuration,
lumora/endpoints.conf in the XDG configuration locations. The companion tool
lumora-catalogue lists the stations, checks that file and probes which
stations answer.]=])
set(CPACK_DEBIAN_STATION_SIM_DESCRIPTION [=[
loopback stand-in for the stations of Lumora
lumora-station-sim serves every station address of Lumora on 127.0.0.1, each
as a server of its kind (playlists, web pages, SHOUTcast and Icecast streams,
Windows Media over HTTP, MP3 and RealMedia files), every station playing a
sine tone of its own, and can make chosen stations or ports misbehave the way
broken servers do. It is for tests and demonstrations of Lumora; listening to
the radio needs only the lumora package.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian's layout of the staged files: /usr/share/doc/<package>, compressed manual pages.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-layout.cmake)
set(CPACK_LUMORA_DOCDIR ${CMAKE_INSTALL_DOCDIR})

# Two packages, lumora_<version>_<arch>.deb and lumora-station-sim_<version>_<arch>.deb (the
# first alone with LUMORA_STATION_SIM off).
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${lumora_components})
set(CPACK_DEBIAN_LUMORA_PACKAGE_NAME lumora)
set(CPACK_DEBIAN_STATION_SIM_PACKAGE_NAME lumora-station-sim)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps runs on each package's own files, so lumora does not depend on libav.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_LUMORA_PACKAGE_DEPENDS
  "libvlc-bin, vlc-plugin-base, vlc-plugin-video-output, fonts-dejavu-core | fonts-hosny-amiri")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

include(CPack)
