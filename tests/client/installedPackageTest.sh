#!/usr/bin/env bash
# Installs the build into a fresh prefix and builds a C module from what was
# installed alone, once on the shared library and once on the archive, as
# pkg-config describes them; both must run. The documents must be there too.
#   installedPackageTest.sh BUILD_DIR C_COMPILER MODULE_SOURCE
set -euo pipefail
build="$1" cc="$2" module="$3"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
for document in client.md protocol.md; do
    test -s "$prefix/share/doc/voklogoffcookieservice/$document" ||
        { echo "not installed: $document"; exit 1; }
done
pc="$(find "$prefix" -name logoffcookie.pc)"
libdir="$(dirname "$(dirname "$pc")")"
export PKG_CONFIG_PATH="$(dirname "$pc")"
mkdir "$prefix/empty"

# shellcheck disable=SC2046
"$cc" -std=c99 -pedantic-errors -Wall -Werror -o "$prefix/shared-module" "$module" \
    $(pkg-config --cflags --libs logoffcookie) -Wl,-rpath,"$libdir"
"$prefix/shared-module" "$prefix/empty"

# With only the archive beside it, -llogoffcookie is the archive, and
# Libs.private must bring what it needs.
rm "$libdir"/liblogoffcookie.so*
# shellcheck disable=SC2046
"$cc" -std=c99 -pedantic-errors -Wall -Werror -o "$prefix/static-module" "$module" \
    $(pkg-config --static --cflags --libs logoffcookie)
"$prefix/static-module" "$prefix/empty"
if ldd "$prefix/static-module" | grep -q logoffcookie; then
    echo "the static module still needs the shared library"
    exit 1
fi
echo "installed package: documents, shared and static C modules ok"
