# The Debian package, made by CPack from the install rules (./scripts/package drives it).
# Runtime dependencies are computed from the installed binaries by dpkg-shlibdeps; the few
# that are loaded at run time and so invisible to it are listed by hand.
set(CPACK_PACKAGE_NAME "wendrel-desktop")
set(CPACK_PACKAGE_VENDOR "Tovik")
set(CPACK_PACKAGE_CONTACT "Tovik <support@tovik.com>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client for Wendrel mail and groupware")
set(CPACK_PACKAGE_DESCRIPTION
  "Wendrel Desktop hosts the Wendrel web mail and groupware client in a native window and adds
what a browser tab lacks: it opens mailto: links from anywhere on the desktop, shows desktop
notifications, receives files to share and sets up the account by autodiscovery.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.tovik.com/wendrel")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "mail")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# TLS for libsoup and the web engine (a GIO module), the GStreamer elements that play sounds,
# and the system sound theme.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "glib-networking, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop, gnome-keyring")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")
include(CPack)
