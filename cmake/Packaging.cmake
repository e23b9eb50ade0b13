# Two Debian packages from the one build, made by `cpack` in the build folder (scripts/package.sh builds, packs
# and checks them): `tallybrook`, the desk, and `tallybrook-server`, the local backend run as a system service.
# Each package is one install component: desk (src/app) and server (server/ and the files below).
include(GNUInstallDirs)

set(_packaging ${PROJECT_SOURCE_DIR}/packaging)

# The unit names /usr/bin and its folder is outside any prefix: it belongs to the package only, so a plain
# `cmake --install` into /usr/local neither writes to /lib nor installs a service pointing at the wrong binary.
install(FILES ${_packaging}/tallybrook-server.service DESTINATION /lib/systemd/system
        COMPONENT server EXCLUDE_FROM_ALL)

# Debian keeps man pages compressed; -n leaves the time stamp out so the same page packs to the same bytes.
configure_file(${_packaging}/tallybrook-server.1.in ${CMAKE_BINARY_DIR}/packaging/tallybrook-server.1 @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/tallybrook-server.1
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/packaging/tallybrook-server.1.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/tallybrook-server.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT server)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Tallybrook")
set(CPACK_PACKAGE_CONTACT "Tallybrook developers <dev@tallybrook.app>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tallybrook.app")
# Each package's description below starts with its own summary line; a project-wide summary would be put above both.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# The unit's absolute destination needs DESTDIR staging, or it would be written to this machine's /lib; staged
# that way the prefix is CPACK_INSTALL_PREFIX, not the build's /usr/local.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The build is RelWithDebInfo; the packages carry the binaries without their debug sections.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desk server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DESK_PACKAGE_NAME tallybrook)
set(CPACK_DEBIAN_DESK_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_DESK_DESCRIPTION "Visitor sign-in desk for the reception
Sign visitors in and out, see who is on site, search and export the visitor log, invite guests, keep the list of
employees, edit the sign-in questions, print name badges and alert hosts in their team chat. The account's data
lives in a hosted project or in the local backend (package tallybrook-server), which the desk polls.")
# dpkg-shlibdeps sees only what the binary links; Qt loads the SVG icon engine and image format as plugins.
set(CPACK_DEBIAN_DESK_PACKAGE_DEPENDS "libqt6svg6")
# Without them the desk still runs: other Qt platform plugins, real fonts for badges and the PDF report, a keyring
# for the session, the certificate store for a hosted project over https.
set(CPACK_DEBIAN_DESK_PACKAGE_RECOMMENDS
    "qt6-qpa-plugins, fonts-dejavu-core | fonts-noto-core, gnome-keyring | kwalletmanager, ca-certificates")
set(CPACK_DEBIAN_DESK_PACKAGE_SUGGESTS "tallybrook-server, cups")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME tallybrook-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_DEBIAN_SERVER_DESCRIPTION "Local backend for the Tallybrook desk
Answers the desk as its hosted backend would (accounts, visitor records, invite pages, the version manifest) from
a SQLite database on this machine. Runs as the systemd service tallybrook-server, as its own system user, with
its data in /var/lib/tallybrook-server.")
# postinst creates the service's user with adduser.
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${_packaging}/server/postinst ${_packaging}/server/prerm ${_packaging}/server/postrm)

include(CPack)
