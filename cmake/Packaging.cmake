# The Debian package of everything `cmake --install` puts in place: the
# service with its systemd unit, environment file and manual pages, the
# logoffcookie command, the client library with its headers and pkg-config
# file, the logrotate file and the documents. Made by scripts/package.sh,
# which builds what ships alone under /usr and runs `cpack -G DEB`.
set(CPACK_PACKAGE_NAME "voklogoffcookieservice")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Logoff cookie cache service of the web authentication agent, with its client")
set(CPACK_PACKAGE_DESCRIPTION
    "VOKLogoffCookieService records the session cookies that agent processes report\n\
as logged off and answers whether a presented cookie is one of them, over a\n\
local socket under WA_INSTALL_PATH. The package also holds the logoffcookie\n\
command and the client library (C and C++) for agent modules.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "VOKLogoffCookieService developers <packaging@voklogoffcookie.example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
# Installed with the symbols cut off: nobody debugs from the package.
set(CPACK_STRIP_FILES ON)
# Registers the library's shlibs and runs ldconfig on installation.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
find_program(LC_DPKG_SHLIBDEPS dpkg-shlibdeps)
# The unit stops the worker with pkill (procps); the rest is found by
# dpkg-shlibdeps when it is there.
if(LC_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps")
else()
  # The service links hiredis for farm sharing, and OpenSSL for its TLS.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libhiredis0.14, libssl3, procps")
endif()
# The state directory is made on installation; /etc/default/voklogoffcookie
# and the logrotate file are the operator's to edit and survive upgrades; the
# loader's cache learns of the client library through the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/debian/postinst;${PROJECT_SOURCE_DIR}/packaging/debian/prerm;${PROJECT_SOURCE_DIR}/packaging/debian/postrm;${PROJECT_SOURCE_DIR}/packaging/debian/conffiles;${PROJECT_SOURCE_DIR}/packaging/debian/triggers")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
