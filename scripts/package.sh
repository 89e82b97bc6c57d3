#!/usr/bin/env bash
# Builds the Debian package korvalen_<version>_<arch>.deb.
#
#   scripts/package.sh [OUTDIR]
#       from a clean checkout of the committed HEAD, with a Release build of
#       its own; then lintian. OUTDIR defaults to the current folder.
#   scripts/package.sh --from-build BUILD OUTDIR
#       packages what the configured build folder BUILD has already built
#       (the package test does this: no second build).
#
# The version is the CMake project's. Dependencies are found by dpkg-shlibdeps,
# plus what the station loads at run time without linking it.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# What the station needs beyond its linked libraries: Qt's Russian texts and
# a font for its windows; adduser for the receiver's system user.
runtime_depends="qt6-translations-l10n, fonts-dejavu-core, adduser"

die() { echo "package.sh: $*" >&2; exit 1; }

assemble() {
  local build="$1" out="$2"
  local version arch stage work deb packaging
  version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
  [ -n "$version" ] || die "no project version in $build/CMakeCache.txt"
  arch="$(dpkg --print-architecture)"
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' RETURN
  stage="$work/root"

  cmake --build "$build" --target korvalen korvalen-jrn korvalen-receiver modemsim assets package_files >/dev/null
  (umask 022 && cmake --install "$build" --prefix "$stage/usr" >/dev/null)
  # The receiver's service, installed disabled, and its settings (a
  # conffile), from the sources this build was made of.
  packaging="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")/packaging"
  [ -f "$packaging/korvalen-receiver.service" ] || die "no $packaging/korvalen-receiver.service"
  install -D "$packaging/korvalen-receiver.service" "$stage/lib/systemd/system/korvalen-receiver.service"
  install -D "$packaging/config.ini" "$stage/etc/korvalen/config.ini"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage"/usr/bin/*
  find "$stage" -type d -exec chmod 0755 {} +
  find "$stage" -type f -exec chmod 0644 {} +
  chmod 0755 "$stage"/usr/bin/*

  # dpkg-shlibdeps reads the package's names from a control file.
  mkdir -p "$work/debian" "$stage/DEBIAN"
  printf 'Source: korvalen\n\nPackage: korvalen\nArchitecture: any\n' > "$work/debian/control"
  local shlibs
  shlibs="$(cd "$work" && dpkg-shlibdeps -O "$stage"/usr/bin/* 2>/dev/null | sed -n 's/^shlibs:Depends=//p')"
  [ -n "$shlibs" ] || die "dpkg-shlibdeps found no dependencies"

  cat > "$stage/DEBIAN/control" <<CONTROL
Package: korvalen
Version: $version
Architecture: $arch
Maintainer: Korvalen developers <developers@korvalen.example>
Installed-Size: $(du -sk --exclude=DEBIAN "$stage" | cut -f1)
Depends: $shlibs, $runtime_depends
Section: utils
Priority: optional
Description: monitoring station for GSM security and alarm devices
 A desktop station for a guard post that watches security and alarm
 devices at guarded sites through two GSM modems on serial ports. The
 devices report by SMS in plain Russian and call the station in alarm;
 the station journals every event and shows each device as a tile whose
 alarm blinks and sounds until an operator acknowledges it. A second
 modem rings every device round to prove it is alive.
 .
 The package also holds korvalen-receiver, the station's core without
 windows as a system service (installed disabled), korvalen-jrn, which
 shows and checks the station's table files, and modemsim, simulated GSM
 modems for trying the station without modems. The user interface is in
 Russian.
CONTROL
  (cd "$stage" && find usr lib -type f -print0 | sort -z | xargs -0 md5sum) > "$stage/DEBIAN/md5sums"
  echo /etc/korvalen/config.ini > "$stage/DEBIAN/conffiles"
  chmod 0644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums" "$stage/DEBIAN/conffiles"
  # The receiver's user and the purge; none of them enables or starts it.
  install -m 0755 "$packaging/debian/postinst" "$packaging/debian/prerm" "$packaging/debian/postrm" \
    "$stage/DEBIAN/"

  mkdir -p "$out"
  deb="$out/korvalen_${version}_${arch}.deb"
  dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
  echo "$deb"
}

if [ "${1:-}" = "--from-build" ]; then
  [ $# -eq 3 ] || die "usage: package.sh --from-build BUILD OUTDIR"
  assemble "$(cd "$2" && pwd)" "$3"
  exit 0
fi

out="$(mkdir -p "${1:-.}" && cd "${1:-.}" && pwd)"
"$here/scripts/install-deps.sh" --package
src="$(mktemp -d)"
trap 'rm -rf "$src"' EXIT
git clone -q --no-hardlinks "$here" "$src/korvalen"
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# Debian's hardening flags, as a package built by its tools would have.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$src/korvalen" -B "$src/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKORVALEN_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  "${launcher[@]}" >/dev/null
deb="$(assemble "$src/build" "$out")"
echo "$deb"
lintian --fail-on error "$deb"
