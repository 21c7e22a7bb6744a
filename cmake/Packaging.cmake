# What an installed Vitrino carries besides its programs, and the Debian package made from an
# install of this build tree (scripts/package makes a release build and runs CPack on it).

# Manual pages, written from vitrino-cli's command table at build time and compressed as Debian
# wants them (gzip -9, no name or time stamp inside).
add_executable(vitrino-man-pages tools/man_pages.cpp)
target_link_libraries(vitrino-man-pages PRIVATE vitrino_cli vitrino_all)
set(VITRINO_MAN_DIR "${CMAKE_BINARY_DIR}/man")
set(VITRINO_MAN_PAGES vitrino vitrino-cli vitrino-local-ai vitrino-open-selection)
set(man_outputs)
set(man_compressed)
foreach(page ${VITRINO_MAN_PAGES})
  list(APPEND man_outputs "${VITRINO_MAN_DIR}/${page}.1")
  list(APPEND man_compressed "${VITRINO_MAN_DIR}/${page}.1.gz")
endforeach()
add_custom_command(
  OUTPUT ${man_outputs} ${man_compressed}
  COMMAND vitrino-man-pages "${VITRINO_MAN_DIR}" "${PROJECT_VERSION}"
  COMMAND gzip -9nkf ${man_outputs}
  DEPENDS vitrino-man-pages
  COMMENT "Writing the manual pages"
  VERBATIM)
add_custom_target(man_pages ALL DEPENDS ${man_compressed})
install(FILES ${man_compressed} DESTINATION share/man/man1)

# The software centre's entry (AppStream) and the package's documents. The home page is where
# the metadata's screenshot is looked for (docs/window.png below it); the component's ID is the
# home page's domain reversed, as AppStream asks.
set(VITRINO_HOMEPAGE "https://vitrino.example.org/" CACHE STRING "The project's home page")
set(VITRINO_APPSTREAM_ID "org.example.vitrino.Vitrino" CACHE STRING "The AppStream component ID")
set(VITRINO_METAINFO "${CMAKE_BINARY_DIR}/packaging/${VITRINO_APPSTREAM_ID}.metainfo.xml")
configure_file(packaging/vitrino.metainfo.xml.in "${VITRINO_METAINFO}" @ONLY)
install(FILES "${VITRINO_METAINFO}" DESTINATION share/metainfo)
set(VITRINO_CHANGELOG_GZ "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
add_custom_command(
  OUTPUT "${VITRINO_CHANGELOG_GZ}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/packaging"
  COMMAND sh -c "gzip -9n < \"$1\" > \"$2\"" sh "${CMAKE_CURRENT_SOURCE_DIR}/packaging/changelog"
          "${VITRINO_CHANGELOG_GZ}"
  DEPENDS packaging/changelog
  VERBATIM)
add_custom_target(package_documents ALL DEPENDS "${VITRINO_CHANGELOG_GZ}")
install(FILES packaging/copyright "${VITRINO_CHANGELOG_GZ}" DESTINATION share/doc/vitrino)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vitrino)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Vitrino developers <vitrino@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sorts exhibition photos into one folder per exhibit")
# CPack puts the summary first and indents the paragraphs below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Vitrino sorts a photographer's exhibition shoot into one folder per exhibit.
A vision model tells wall panels, label cards and objects apart and reads
each label card; the photographs shot before a label go into a folder named
after it. Same-named RAW/JPEG pairs travel together; nothing is overwritten.

The model is a configured OpenAI-compatible endpoint or the offline engine
on this machine, which uploads nothing. The package holds the window
(vitrino), the command line (vitrino-cli), the offline engine as a local
service (vitrino-local-ai), their models, and the Dolphin and Nautilus
actions.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # vitrino_{version}_{arch}.deb
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${VITRINO_HOMEPAGE}")
# Libraries come from the binaries (dpkg-shlibdeps); what is loaded or run by name is listed:
# exiftool writes the star ratings, Qt's translations and SVG plugin are loaded at run time, and
# the sample shoots are set in Noto CJK.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libimage-exiftool-perl, qt6-translations-l10n, libqt6svg6, fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
