# Release packages, made by CPack from the install rules (./scripts/package drives it): a Debian
# package and an RPM from the one configuration below, plus what every package carries besides
# the program (manual page, copyright, changelog, AppStream metadata).

# The release date is the time of the commit being built: SOURCE_DATE_EPOCH when the caller
# gives it (./scripts/package does), else the last commit's time. string(TIMESTAMP) and CPack's
# archives both follow SOURCE_DATE_EPOCH, so one commit always gives the same dates and files.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  find_package(Git QUIET)
  if(GIT_FOUND)
    execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%ct
      WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE wd_epoch
      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE wd_git_status)
    if(wd_git_status EQUAL 0 AND wd_epoch MATCHES "^[0-9]+$")
      set(ENV{SOURCE_DATE_EPOCH} "${wd_epoch}")
    endif()
  endif()
endif()
string(TIMESTAMP WD_RELEASE_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP wd_debian_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP wd_rpm_date "%a %b %d %Y" UTC)

set(WD_PACKAGE_MAINTAINER "Tovik <support@tovik.com>")
# Where the screenshots are published beside the release (the metadata points there).
set(WD_SCREENSHOT_URL "https://downloads.tovik.com/wendrel-desktop/${PROJECT_VERSION}/screenshots"
  CACHE STRING "Where the release's screenshots are published")

set(wd_pkg "${CMAKE_BINARY_DIR}/package")
set(wd_doc "${CMAKE_INSTALL_DATADIR}/doc/wendrel-desktop")

# AppStream metadata: the release is this version on the commit's date.
configure_file(${CMAKE_SOURCE_DIR}/resources/desktop/com.tovik.WendrelDesktop.metainfo.xml.in
  ${wd_pkg}/com.tovik.WendrelDesktop.metainfo.xml @ONLY)
install(FILES ${wd_pkg}/com.tovik.WendrelDesktop.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The manual page, with the version, date and installed folders filled in.
configure_file(${CMAKE_SOURCE_DIR}/docs/wendrel-desktop.1.in ${wd_pkg}/wendrel-desktop.1 @ONLY)

# The changelog of a package made from its own sources (Debian's format; the RPM's own
# %changelog below says the same).
file(CONFIGURE OUTPUT ${wd_pkg}/changelog @ONLY CONTENT
"wendrel-desktop (@PROJECT_VERSION@) unstable; urgency=medium

  * Wendrel Desktop @PROJECT_VERSION@.

 -- @WD_PACKAGE_MAINTAINER@  @wd_debian_date@
")
file(CONFIGURE OUTPUT ${wd_pkg}/rpm-changelog @ONLY CONTENT
"* @wd_rpm_date@ @WD_PACKAGE_MAINTAINER@ - @PROJECT_VERSION@-1
- Wendrel Desktop @PROJECT_VERSION@.
")

# Compressed as packages want them; gzip -n leaves out the name and time, so the same text
# gives the same bytes.
set(wd_gzipped "")
foreach(wd_file wendrel-desktop.1 changelog)
  add_custom_command(OUTPUT ${wd_pkg}/${wd_file}.gz
    COMMAND sh -c "gzip -n -9 -c '${wd_file}' > '${wd_file}.gz'"
    DEPENDS ${wd_pkg}/${wd_file} WORKING_DIRECTORY ${wd_pkg} VERBATIM)
  list(APPEND wd_gzipped ${wd_pkg}/${wd_file}.gz)
endforeach()
add_custom_target(wd_package_docs ALL DEPENDS ${wd_gzipped})
install(FILES ${wd_pkg}/wendrel-desktop.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${wd_pkg}/changelog.gz DESTINATION ${wd_doc})

# Screenshots for the AppStream metadata, made by running the built program under Xvfb; they
# are published beside the release (not installed). The script installs the build into a
# scratch folder, so it runs after the whole build (./scripts/package builds everything first).
add_custom_target(screenshots
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/screenshots ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/screenshots
  DEPENDS wendrel-desktop wendrel-webext wendrel-desktop-update-helper wd_package_docs
  USES_TERMINAL
  COMMENT "Making the screenshots of the AppStream metadata")

set(CPACK_PACKAGE_NAME "wendrel-desktop")
set(CPACK_PACKAGE_VENDOR "Tovik")
set(CPACK_PACKAGE_CONTACT "${WD_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client for Wendrel mail and groupware")
# Lines of at most 80 characters, as package managers show them.
set(CPACK_PACKAGE_DESCRIPTION
  "Wendrel Desktop hosts the Wendrel web mail and groupware client in a native
window and adds what a browser tab lacks: it opens mailto: links from anywhere
on the desktop, shows desktop notifications, receives files to share and sets
up the account by autodiscovery.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.tovik.com/wendrel")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR "DEB;RPM")
# Every folder the packages need is found from the installed tree (below).
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/PackageFolders.cmake)

# Debian: Depends from the binaries (dpkg-shlibdeps) plus what is loaded at run time and so
# invisible to it: TLS for libsoup and the web engine (a GIO module) and the GStreamer elements
# that play sounds; the system sound theme and a keyring are recommended.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "mail")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "glib-networking, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sound-theme-freedesktop, gnome-keyring")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xdg-utils")

# RPM: requirements from the binaries (rpmbuild's ELF scan), the same run-time plug-ins under
# the names Fedora and openSUSE give them. The web extension is a plug-in, not a library others
# link to, so nothing is provided automatically.
set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_RELEASE 1)
set(CPACK_RPM_PACKAGE_LICENSE "LicenseRef-proprietary")
set(CPACK_RPM_PACKAGE_GROUP "Applications/Internet")
set(CPACK_RPM_PACKAGE_URL "${CPACK_PACKAGE_HOMEPAGE_URL}")
set(CPACK_RPM_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
set(CPACK_RPM_PACKAGE_AUTOPROV OFF)
set(CPACK_RPM_PACKAGE_REQUIRES
  "glib-networking, (gstreamer1-plugins-base or gstreamer-plugins-base), (gstreamer1-plugins-good or gstreamer-plugins-good)")
set(CPACK_RPM_CHANGELOG_FILE ${wd_pkg}/rpm-changelog)
# Reproducible: the build time and file times are the commit's, the build host a constant; no
# debug-information package or build-id links (the files are stripped already).
set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${WD_PACKAGE_MAINTAINER}
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible
%define _build_id_links none
%define debug_package %{nil}")
include(CPack)
