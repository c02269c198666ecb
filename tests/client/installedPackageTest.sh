#!/usr/bin/env bash
# Installs the build into a fresh prefix and builds a C module from what was
# installed alone, once on the shared library and once on the archive, as
# pkg-config describes them; both must run. The documents must be there too.
# A loadable module built on the archive exports only the client's names,
# none weak or unique, and is unmapped when its host unloads it.
#   installedPackageTest.sh BUILD_DIR C_COMPILER MODULE_SOURCE ARCHIVE_MODULE_SOURCE HOST_SOURCE
set -euo pipefail
build="$1" cc="$2" module="$3" archive_module="$4" host="$5"
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

# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -fPIC -shared -o "$prefix/archive-module.so" "$archive_module" \
    $(pkg-config --static --cflags --libs logoffcookie)
# Defined names in the module's dynamic table: "binding name" each.
exported="$(readelf --dyn-syms --wide "$prefix/archive-module.so" |
    awk '$1 ~ /^[0-9]+:$/ && $7 != "UND" && $5 != "LOCAL" && NF >= 8 { print $5, $8 }')"
if echo "$exported" | grep -E '^(WEAK|UNIQUE) '; then
    echo "the module exports weak or unique names of the library (above)"
    exit 1
fi
if echo "$exported" | awk '{ print $2 }' |
    grep -vE '^(logoffCookieClient_|archiveModule_|_ZN12logoffcookie|_ZNK12logoffcookie|_init$|_fini$)'; then
    echo "the module exports names of the library's inside (above)"
    exit 1
fi
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror -o "$prefix/host" "$host" $(pkg-config --cflags logoffcookie) -ldl
"$prefix/host" "$prefix/archive-module.so" "$prefix/empty/logoffCookieSocket"
echo "installed package: documents, shared and static C modules, loadable module ok"
