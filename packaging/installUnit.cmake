# Installs the systemd unit and its environment file. Run at install time
# (install(SCRIPT)), so the paths follow the prefix actually installed to:
# `cmake --install --prefix` and the Debian package's /usr alike.
#   LC_PACKAGING_DIR  this folder, set by the caller
#   LC_SBINDIR, LC_BINDIR  executables' folders relative to the prefix
set(prefix "${CMAKE_INSTALL_PREFIX}")
# /usr keeps its configuration in /etc; any other prefix in its own etc/.
if(prefix STREQUAL "/usr")
  set(sysconfdir "/etc")
else()
  set(sysconfdir "${prefix}/etc")
endif()

file(READ "${LC_PACKAGING_DIR}/systemd/voklogoffcookie.service" unit)
string(REPLACE "/usr/sbin/" "${prefix}/${LC_SBINDIR}/" unit "${unit}")
string(REPLACE "/usr/bin/logoffcookie" "${prefix}/${LC_BINDIR}/logoffcookie" unit "${unit}")
string(REPLACE "/etc/default/" "${sysconfdir}/default/" unit "${unit}")

set(unitDir "$ENV{DESTDIR}${prefix}/lib/systemd/system")
message(STATUS "Installing: ${unitDir}/voklogoffcookie.service")
file(MAKE_DIRECTORY "${unitDir}")
file(WRITE "${unitDir}/voklogoffcookie.service" "${unit}")

# file(INSTALL) puts DESTDIR in front of the destination itself.
set(defaultDir "${sysconfdir}/default")
# An environment file an operator has edited is never overwritten. It holds
# the Redis URL with its password: readable by root alone (systemd reads it
# as root).
if(EXISTS "$ENV{DESTDIR}${defaultDir}/voklogoffcookie")
  message(STATUS "Up-to-date: $ENV{DESTDIR}${defaultDir}/voklogoffcookie (kept as edited)")
else()
  file(INSTALL "${LC_PACKAGING_DIR}/default/voklogoffcookie" DESTINATION "${defaultDir}"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
endif()

# The trace log's rotation; edited rules are kept likewise.
set(logrotateDir "${sysconfdir}/logrotate.d")
if(EXISTS "$ENV{DESTDIR}${logrotateDir}/voklogoffcookie")
  message(STATUS "Up-to-date: $ENV{DESTDIR}${logrotateDir}/voklogoffcookie (kept as edited)")
else()
  file(INSTALL "${LC_PACKAGING_DIR}/logrotate/voklogoffcookie" DESTINATION "${logrotateDir}"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
