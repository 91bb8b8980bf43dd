#!/usr/bin/env bash
# Installs a build into a fresh prefix and uses it as a host would: checks
# the installed files, builds the package host against it through
# pkg-config and through find_package(tpsubm), and runs both; runs the
# installed probe when the build has one.
#
#   run-package-test.sh BUILD_DIR WORK_DIR LIBDIR VERSION CC GENERATOR PROBE SAN_FLAGS
set -euo pipefail
build=$1 work=$2 libdir=$3 version=$4 cc=$5 generator=$6 probe=$7 san_flags=$8
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix
rm -rf "$work"
mkdir -p "$work"

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# Only the installed copy may be used: the library must resolve to it.
check_resolves_to_prefix() {
  local binary=$1 line
  line=$(ldd "$binary" | grep 'libtpsubm\.so') || fail "$binary does not need libtpsubm"
  case "$line" in
    *"=> $prefix/"*) ;;
    *) fail "$binary loads the library from elsewhere: $line" ;;
  esac
}

cmake --install "$build" --prefix "$prefix" >"$work/install.log"

lib=$prefix/$libdir
[ -f "$lib/libtpsubm.so.$version" ] || fail "no $lib/libtpsubm.so.$version"
[ "$(readlink "$lib/libtpsubm.so.0")" = "libtpsubm.so.$version" ] || fail "libtpsubm.so.0 link"
[ "$(readlink "$lib/libtpsubm.so")" = "libtpsubm.so.0" ] || fail "libtpsubm.so link"
soname=$(readelf -d "$lib/libtpsubm.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "libtpsubm.so.0" ] || fail "SONAME is '$soname'"
cmp -s "$here/../../include/tpsubm.h" "$prefix/include/tpsubm.h" || fail "installed header differs"

# pkg-config.
export PKG_CONFIG_PATH=$lib/pkgconfig
export PKG_CONFIG_LIBDIR=$lib/pkgconfig
[ "$(pkg-config --modversion tpsubm)" = "$version" ] || fail "pkg-config --modversion"
pc_libdir=$(pkg-config --variable=libdir tpsubm)
# shellcheck disable=SC2046,SC2086
"$cc" $san_flags -std=c11 -Wall -Wextra -pedantic -Werror "$here/host/host.c" \
  $(pkg-config --cflags --libs tpsubm) -Wl,-rpath,"$pc_libdir" -o "$work/host-pkg-config"
check_resolves_to_prefix "$work/host-pkg-config"
"$work/host-pkg-config"

# find_package(tpsubm), with the build tree and the package registries out of reach.
cmake -S "$here/host" -B "$work/host-build" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_C_FLAGS="$san_flags" -DCMAKE_EXE_LINKER_FLAGS="$san_flags" \
  >"$work/host-configure.log"
found=$(sed -n 's/^tpsubm_DIR:PATH=//p' "$work/host-build/CMakeCache.txt")
[ "$found" = "$lib/cmake/tpsubm" ] || fail "find_package found '$found'"
cmake --build "$work/host-build" >"$work/host-build.log"
check_resolves_to_prefix "$work/host-build/package_host"
"$work/host-build/package_host"

# The installed probe finds the installed library beside it.
if [ "$probe" = 1 ]; then
  [ -x "$prefix/bin/tpsubm-probe" ] || fail "tpsubm-probe not installed"
  check_resolves_to_prefix "$prefix/bin/tpsubm-probe"
  out=$(LC_ALL=C "$prefix/bin/tpsubm-probe" "$here/../../samples/lighthouse.en.srt")
  grep -q '"English"' <<<"$out" || fail "installed probe printed: $out"
  echo "installed probe: ok"
fi
echo "package test: passed"
