# `cpack` (after a build) makes a Debian package of everything that `cmake --install` puts in
# place; its library dependencies come from dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME scoutor)
set(CPACK_PACKAGE_VENDOR Halvex)
set(CPACK_PACKAGE_CONTACT "Scoutor maintainers <maintainers@scoutor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Find and configure VEP network devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Scoutor finds the embedded network devices that speak the VEP protocol on the local \
network, lists them and changes their IP settings, gives an unreachable device a free \
address, uploads firmware and opens their web pages. Includes vepctl, vepsim and libvep.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Qt plug-ins that draw the SVG pictures and reach the desktop are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
include(CPack)
