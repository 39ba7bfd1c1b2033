# What `cmake --install` puts where (any prefix, DESTDIR too), and the Debian
# package made from the same install: `cmake --build build --target deb`.
#
#   bin/tessera, bin/tessera-render
#   share/tessera/{music,textures}            the demo's data
#   share/applications/tessera.desktop        the menu entry
#   share/icons/hicolor/NxN/apps/tessera.png  the icon, 16 to 256 pixels
#   share/metainfo/<id>.metainfo.xml          the software centre's entry
#   share/man/man6/tessera.6.gz, man1/tessera-render.1.gz
#   share/doc/tessera/{copyright,changelog.gz}

set(TESSERA_APP_ID io.github.tessera_demo.tessera)
# Who answers for the package: the project, never a person. The address
# belongs to the project's account (tessera-demo, the owner the application
# ID names); bugs go to its issue tracker, which the copyright file gives as
# the upstream contact.
set(TESSERA_MAINTAINER "tessera developers <tessera-demo@users.noreply.github.com>")
set(TESSERA_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(TESSERA_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
# Directories made by the install are 0755 whatever the umask, as packages
# must have them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The version goes into the pages, the metadata and the changelog; the
# compressed copies carry no name or time stamp (gzip -n), so they repeat.
configure_file(${TESSERA_PACKAGING_DIR}/tessera.6 ${TESSERA_PACKAGING_OUT}/tessera.6 @ONLY)
configure_file(${TESSERA_PACKAGING_DIR}/tessera-render.1 ${TESSERA_PACKAGING_OUT}/tessera-render.1 @ONLY)
configure_file(${TESSERA_PACKAGING_DIR}/changelog.in ${TESSERA_PACKAGING_OUT}/changelog @ONLY)
configure_file(${TESSERA_PACKAGING_DIR}/tessera.metainfo.xml
  ${TESSERA_PACKAGING_OUT}/${TESSERA_APP_ID}.metainfo.xml @ONLY)
set(TESSERA_GZIPPED "")
foreach(name tessera.6 tessera-render.1 changelog)
  add_custom_command(
    OUTPUT ${TESSERA_PACKAGING_OUT}/${name}.gz
    COMMAND gzip -9nkf ${TESSERA_PACKAGING_OUT}/${name}
    DEPENDS ${TESSERA_PACKAGING_OUT}/${name}
    VERBATIM)
  list(APPEND TESSERA_GZIPPED ${TESSERA_PACKAGING_OUT}/${name}.gz)
endforeach()
add_custom_target(install_docs ALL DEPENDS ${TESSERA_GZIPPED})

install(TARGETS tessera tessera-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${TESSERA_ASSETS_DIR}/music ${TESSERA_ASSETS_DIR}/textures
  DESTINATION ${TESSERA_INSTALL_DATADIR})
install(FILES ${TESSERA_PACKAGING_DIR}/tessera.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TESSERA_PACKAGING_OUT}/${TESSERA_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size ${TESSERA_ICON_SIZES})
  install(FILES ${CMAKE_BINARY_DIR}/icons/tessera-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tessera.png)
endforeach()
install(FILES ${TESSERA_PACKAGING_OUT}/tessera.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
install(FILES ${TESSERA_PACKAGING_OUT}/tessera-render.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TESSERA_PACKAGING_DIR}/copyright ${TESSERA_PACKAGING_OUT}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package. Its library dependencies come from dpkg-shlibdeps;
# the OpenGL drivers are not linked against, so they are recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessera)
set(CPACK_PACKAGE_VENDOR "The tessera developers")
set(CPACK_PACKAGE_CONTACT "${TESSERA_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audiovisual demo with OpenGL scenes and music")
# The summary above is the first line; CPack indents these lines and turns
# the empty one into the paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"The demo plays one piece of music and, in step with it, renders a fixed
sequence of 3D scenes and 2D overlays: a title card, tumbling meshes seen
through windows cut in the shape of other meshes, a lattice of textured
cubes, a mesh in crawling halftone and a floor of pulsing squares. It runs
full screen for 260 seconds; Escape ends it.

The package also holds tessera-render, which renders the demo offline,
frame-exactly, to MP4 video, WAV sound or PNG stills.")
# Not "games": that section is for programs installed in /usr/games.
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libgl1-mesa-dri, libegl-mesa0")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)

# `cmake --build build --target deb` builds what the package holds, then
# makes build/tessera_<version>_amd64.deb.
add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Making the Debian package"
  VERBATIM)
add_dependencies(deb tessera tessera-render tessera_music pictures icons install_docs)
