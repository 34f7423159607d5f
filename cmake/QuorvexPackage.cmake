# cpack: a Debian package of what cmake --install puts in place, under /usr. Its dependencies
# (libjpeg62-turbo, libffi, the C++ runtime) come from the binaries themselves (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quorvex authors")
set(CPACK_PACKAGE_CONTACT "The Quorvex authors <quorvex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "in-process automation component that loads, transforms and writes JPEGs")
set(CPACK_PACKAGE_DESCRIPTION
    "The Resize object (ProgID Quorvex.Resize) with its platform runtime, the quorvex\
 command-line tool, and the headers, pkg-config file and CMake package for clients.")
set(CPACK_RESOURCE_FILE_LICENSE ${QUORVEX_ROOT}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The default CMYK profile that ConvertToSRGB gives CMYK files without one, and libavif, which
# the module opens when it first writes AVIF and dpkg-shlibdeps therefore does not see.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libgs-common, ${QUORVEX_AVIF_PACKAGE}")
# The runtime is found through the binaries' $ORIGIN run paths; tell dpkg-shlibdeps where it is.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/platform)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
