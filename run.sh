#!/usr/bin/env bash
# Builds and starts the service. The socket file goes to $WA_INSTALL_PATH,
# or to var/ under this checkout when that is not set.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh
lc_install_missing
lc_build --target VOKLogoffCookieService
export WA_INSTALL_PATH="${WA_INSTALL_PATH:-$PWD/var}"
mkdir -p "$WA_INSTALL_PATH"
echo "WA_INSTALL_PATH=$WA_INSTALL_PATH"
# The launcher prints the start line and one pid line, then returns; the
# service keeps its standard streams, so they go to files here.
"${LC_BUILD_DIR:-build}/bin/VOKLogoffCookieService" >"$WA_INSTALL_PATH/service.stdout" \
    2>>"$WA_INSTALL_PATH/service.stderr" </dev/null
cat "$WA_INSTALL_PATH/service.stdout"
pid=$(sed -n 2p "$WA_INSTALL_PATH/service.stdout")
if [ -z "$pid" ]; then
    echo "the service did not start; see $WA_INSTALL_PATH/service.stderr" >&2
    exit 1
fi
echo "service running (monitor pid $pid), socket $WA_INSTALL_PATH/logoffCookieSocket"
echo "stop it with: kill $pid (an orderly stop; it ends within 15 s)"
