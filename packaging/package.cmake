# The Debian package: `cpack -G DEB` in the build directory makes
# vorlant_<version>_amd64.deb from what `cmake --install` puts under /usr,
# its library dependencies computed by dpkg-shlibdeps.

set(VORLANT_PACKAGE_DOC_DIR share/doc/vorlant)
set(VORLANT_PACKAGE_STAGE ${CMAKE_BINARY_DIR}/packaging)

# Debian wants the changelog and the manual page compressed, without a time
# stamp in the gzip header so that two builds give the same bytes.
find_program(GZIP_PROGRAM gzip REQUIRED)
configure_file(${CMAKE_CURRENT_LIST_DIR}/vorlant.1 ${VORLANT_PACKAGE_STAGE}/vorlant.1 @ONLY)
add_custom_command(OUTPUT ${VORLANT_PACKAGE_STAGE}/vorlant.1.gz
  COMMAND ${GZIP_PROGRAM} -9nc ${VORLANT_PACKAGE_STAGE}/vorlant.1 > ${VORLANT_PACKAGE_STAGE}/vorlant.1.gz
  DEPENDS ${VORLANT_PACKAGE_STAGE}/vorlant.1
  VERBATIM)
add_custom_command(OUTPUT ${VORLANT_PACKAGE_STAGE}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nc ${CMAKE_CURRENT_LIST_DIR}/changelog > ${VORLANT_PACKAGE_STAGE}/changelog.gz
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
  VERBATIM)
add_custom_target(package_documents ALL
  DEPENDS ${VORLANT_PACKAGE_STAGE}/vorlant.1.gz ${VORLANT_PACKAGE_STAGE}/changelog.gz)

install(FILES ${VORLANT_PACKAGE_STAGE}/vorlant.1.gz DESTINATION share/man/man1)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${VORLANT_PACKAGE_STAGE}/changelog.gz
        DESTINATION ${VORLANT_PACKAGE_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlant)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the vorlant developers")
set(CPACK_PACKAGE_CONTACT "Seed 8bada37f maintainers <maintainers@users.noreply.c-seed-8bada37f.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "capture program for document cameras")
# CPack puts the summary first and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "vorlant shows the live picture of an overhead document camera and
photographs the sheets, cards and small objects lying under it: cut out and
straightened, in colour, grey or black and white, one at a time or at fixed
intervals. It records video, merges two photographs into one image and
collects photographs into PDF or TIFF files, optionally with a searchable
text layer read by text-recognition models (or tesseract).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: data and plug-ins loaded at run time.
# Chinese text (the default interface) needs a CJK font; the shutter sound
# needs Qt's multimedia plug-ins; text recognition needs the Chinese model.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "fonts-wqy-microhei | fonts-noto-cjk, libqt5multimedia5-plugins, qttranslations5-l10n, tesseract-ocr-chi-sim")
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian-layout.cmake)
include(CPack)
