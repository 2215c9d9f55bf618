# Installing and packaging: the desktop program, the headless counter and the flow
# generator, with a desktop entry and the application icon.
#   cmake --install build --prefix DIR
#   cd build && cpack -G DEB
# Each program installs from its own folder (install(TARGETS ...) beside its target).

install(FILES ${PROJECT_SOURCE_DIR}/resources/tessel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/imgs/logo.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/512x512/apps
        RENAME tessel.png)
# The licence, where Debian keeps a package's documents.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessel)

set(CPACK_PACKAGE_NAME tessel)
set(CPACK_PACKAGE_VENDOR "MIVO")
set(CPACK_PACKAGE_CONTACT "Tessel developers <tessel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Counts and sizes the particles of a flow recorded as a folder of frames")
set(CPACK_PACKAGE_DESCRIPTION "tessel is the desktop program, tessel-count the headless counter for scripts, \
tessel-flowgen writes synthetic particle flows with their ground truth.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# The programs without their debugging symbols.
set(CPACK_STRIP_FILES ON)
# The Qt 6 and OpenCV runtime libraries (and the C++ runtime) come from what the programs
# link against, with the versions they were built with.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
