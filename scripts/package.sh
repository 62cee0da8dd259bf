#!/usr/bin/env bash
# Builds the Debian packages quillet, orvane, libtamsin0 and libtamsin-dev
# into build-deb/. It takes the tree already built in build/ when that was
# configured for the /usr prefix (as scripts/test-all.sh configures it), so CI
# builds nothing a third time; otherwise it configures and builds its own tree
# in build-deb/tree.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/build-deb

tree=$root/build
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$tree/CMakeCache.txt" 2>/dev/null || true)
if [ "$prefix" != /usr ] || grep -q '^QUILLET_SANITIZE:BOOL=ON' "$tree/CMakeCache.txt"; then
    tree=$out/tree
    cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
fi
cmake --build "$tree" -j"$(nproc)"

rm -rf "$out/_CPack_Packages" "$out"/*.deb
mkdir -p "$out"

# An install rule without a COMPONENT would fall into no package.
stray=$(mktemp -d)
DESTDIR=$stray cmake --install "$tree" --component Unspecified >/dev/null
if [ -n "$(find "$stray" -type f -print -quit)" ]; then
    echo "package.sh: installed files that belong to no package:" >&2
    find "$stray" -type f >&2
    rm -rf "$stray"
    exit 1
fi
rm -rf "$stray"
(cd "$tree" && cpack -G DEB -B "$out" --config CPackConfig.cmake >"$out/cpack.log") ||
    { cat "$out/cpack.log"; exit 1; }
rm -rf "$out/_CPack_Packages"

# CPack gives a package with a shared library maintainer scripts that only
# call ldconfig; libtamsin0 has the ldconfig trigger instead. Its symbols
# file lists what the library exports, each at this version, so a program
# built against it depends on at least the version it was built with.
for deb in "$out"/libtamsin0_*.deb; do
    unpacked=$(mktemp -d)
    dpkg-deb -R "$deb" "$unpacked"
    chmod 0755 "$unpacked" # the package's top folder, not mktemp's 0700
    rm -f "$unpacked/DEBIAN/postinst" "$unpacked/DEBIAN/postrm"
    version=$(dpkg-deb -f "$deb" Version)
    library=$(find "$unpacked" -name 'libtamsin.so.*.*' -type f)
    {
        echo "libtamsin.so.0 libtamsin0 #MINVER#"
        echo "* Build-Depends-Package: libtamsin-dev"
        nm -D --defined-only "$library" | awk -v v="$version" '$2 ~ /^[TDBRVW]$/ { print " " $3 "@Base " v }' | sort
    } >"$unpacked/DEBIAN/symbols"
    dpkg-deb --root-owner-group -Zxz --build "$unpacked" "$deb" >/dev/null
    rm -rf "$unpacked"
done
ls -1 "$out"/*.deb
