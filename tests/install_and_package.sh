#!/usr/bin/env bash
# The programs as they are installed and packaged: the lists of packages by
# purpose, where each program finds its data, a DESTDIR install and the
# Debian package run in place from /, the files and pages they carry, their
# validators, and the installed player under Xvfb.
#
# usage: install_and_package.sh SOURCE_DIR BUILD_DIR
set -u
src=$1 build=$2
work=$(mktemp -d)
source "$(dirname "$0")/x_session.sh"
trap 'kill "${x_server:-}" 2>/dev/null; rm -rf "$work"' EXIT
unset TESSERA_DATA_DIR
moment=30000   # inside the window scene: meshes, stencil, textures

# A still of $moment ms at 20 fps, 320x240, by render binary $1 started in
# folder $2 with its PNG written to the relative folder $3; prints its path.
still() {
  (cd "$2" && "$1" --fps 20 --to "$moment" --png-at "$moment" --size 320x240 --out "$3") >/dev/null 2>"$work/still.err"
  echo "$2/$3/at-0$moment.png"
}
# Pixels that differ between two pictures ("missing" when one is absent).
differing() {
  [ -f "$1" ] && [ -f "$2" ] && compare -metric AE "$1" "$2" null: 2>&1 || echo missing
}

# 1. The demo's packages hold none that only the tests need (a sound or X
#    server, the fuzzing toolchain, the test and package tools); the tests'
#    list holds every one of the demo's.
"$src/scripts/install-deps" demo --list >"$work/demo.list"
"$src/scripts/install-deps" tests --list >"$work/tests.list"
test_only=(libgtest-dev libbenchmark-dev pulseaudio pulseaudio-utils pipewire ffmpeg xvfb xauth xdotool imagemagick
           x11-utils x11-apps x11-xserver-utils xserver-xorg-core xserver-xorg-video-dummy clang-14 libclang-rt-14-dev
           lintian desktop-file-utils appstream dpkg-dev parallel libebur128-dev)
found=$(grep -Fxf <(printf '%s\n' "${test_only[@]}") "$work/demo.list" | tr '\n' ' ')
[ -s "$work/demo.list" ] && [ -z "$found" ] && pass "demo list: $(wc -l <"$work/demo.list") packages, none test-only" \
  || fail "demo list holds test-only packages: $found"
missing=$(grep -vFxf "$work/tests.list" "$work/demo.list" | tr '\n' ' ')
[ -z "$missing" ] && pass "the tests' list holds the demo's" || fail "tests' list lacks: $missing"
"$src/scripts/install-deps" everything --list >/dev/null 2>&1
[ $? = 2 ] && pass "an unknown purpose is refused" || fail "an unknown purpose was taken"

# 2. Install with DESTDIR under a prefix of our own; every file in place.
root=$work/root prefix=/opt/tessera-test
DESTDIR=$root cmake --install "$build" --prefix "$prefix" >/dev/null
inst=$root$prefix
files=(bin/tessera bin/tessera-render share/tessera/music/mix.mp3 share/applications/tessera.desktop
       share/metainfo/io.github.tessera_demo.tessera.metainfo.xml share/man/man6/tessera.6.gz
       share/man/man1/tessera-render.1.gz share/doc/tessera/copyright share/doc/tessera/changelog.gz)
absent=""
for f in "${files[@]}"; do [ -s "$inst/$f" ] || absent+=" $f"; done
pictures=$(ls "$inst/share/tessera/textures" | wc -l)
[ -z "$absent" ] && [ "$pictures" = 15 ] && pass "DESTDIR install: programs, data, entry, metadata, pages, docs" \
  || fail "DESTDIR install lacks:$absent ($pictures pictures)"
icons=""
for size in 16 24 32 48 64 128 256; do
  icons+=" $(identify -format '%wx%h:%[channels]' "$inst/share/icons/hicolor/${size}x${size}/apps/tessera.png" 2>/dev/null)"
done
[ "$icons" = " 16x16:srgba 24x24:srgba 32x32:srgba 48x48:srgba 64x64:srgba 128x128:srgba 256x256:srgba" ] \
  && pass "icons at seven sizes with transparency" || fail "icons:$icons"
corner=$(convert "$inst/share/icons/hicolor/256x256/apps/tessera.png" -format '%[fx:p{0,0}.a],%[fx:p{128,128}.a]' info:)
[ "$corner" = 0,1 ] && pass "icon: clear corner, opaque middle" || fail "icon alpha at corner,middle: $corner"

# 3. The installed renderer started elsewhere, with no data there: it finds
#    share/tessera beside its bin/, writes where it was started, and draws
#    what the build tree's renderer draws.
mkdir -p "$work/here"
reference=$(still "$build/tools/render/tessera-render" / "$work/reference")
installed=$(still "$inst/bin/tessera-render" "$work/here" shots)
ae=$(differing "$reference" "$installed")
[ "$ae" = 0 ] && pass "installed renderer from elsewhere: the same still at $moment ms, in the folder it started in" \
  || fail "installed renderer: $ae pixels differ; $(cat "$work/still.err")"

# 4. The package: named by version and architecture, library dependencies
#    computed, binaries stripped, no lintian error; unpacked, it runs in place.
cmake --build "$build" --target deb >"$work/deb.log" 2>&1 || { fail "deb target failed"; cat "$work/deb.log"; }
deb=$(ls "$build"/tessera_*_amd64.deb 2>/dev/null | head -n 1)
version=$("$build/tessera" --version | awk '{ print $2 }')
depends=$(dpkg-deb -f "$deb" Depends 2>/dev/null)
[ "$(basename "$deb")" = "tessera_${version}_amd64.deb" ] && [[ $depends == *libc6* && $depends == *libmpg123* ]] \
  && pass "$(basename "$deb"), $(du -k "$deb" | cut -f1) KiB, depends on ${depends:0:60}..." \
  || fail "package ${deb:-none}: Depends: $depends"
dpkg-deb -x "$deb" "$work/deb"
stripped=$(file "$work"/deb/usr/bin/* | grep -c ', stripped')
[ "$stripped" = 2 ] && pass "both binaries stripped" || fail "$stripped of 2 binaries stripped"
# One maintainer, the project, in the control file and the changelog alike;
# no address on a reserved placeholder domain anywhere in the package.
maintainer=$(dpkg-deb -f "$deb" Maintainer 2>/dev/null)
signed=$(zcat "$work/deb/usr/share/doc/tessera/changelog.gz" | sed -n 's/^ -- \(.*>\)  .*/\1/p')
placeholder=$(zcat -f "$work"/deb/usr/share/doc/tessera/* | grep -Ec '@[^>]*\.(example|invalid|test|localhost)>')
[[ $maintainer == "tessera developers <"*">" && $signed == "$maintainer" && $placeholder == 0 ]] \
  && pass "maintainer: $maintainer" || fail "maintainer \"$maintainer\", changelog signed \"$signed\", $placeholder placeholder addresses"
lintian "$deb" >"$work/lintian" 2>&1
grep -q '^E:' "$work/lintian" && { fail "lintian errors:"; cat "$work/lintian"; } \
  || pass "lintian: no errors ($(grep -c '^W:' "$work/lintian") warnings)"
unpacked=$(still "$work/deb/usr/bin/tessera-render" / "$work/unpacked")
ae=$(differing "$reference" "$unpacked")
[ "$ae" = 0 ] && pass "unpacked package's renderer from /: the same still" \
  || fail "unpacked renderer: $ae pixels differ; $(cat "$work/still.err")"
desktop-file-validate "$work/deb/usr/share/applications/tessera.desktop" >"$work/v" 2>&1 \
  && pass "desktop entry validates" || { fail "desktop entry:"; cat "$work/v"; }
appstreamcli validate --no-net "$work"/deb/usr/share/metainfo/*.metainfo.xml >"$work/v" 2>&1 \
  && pass "metainfo validates" || { fail "metainfo:"; cat "$work/v"; }

# 5. --help and the man page's OPTIONS name the same options, and both tell
#    of the data search.
for program in tessera:6 tessera-render:1; do
  name=${program%:*} section=${program#*:}
  "$inst/bin/$name" --help >"$work/help"
  man -l "$inst/share/man/man$section/$name.$section.gz" 2>/dev/null | col -b >"$work/page"
  awk '/^OPTIONS/ { on = 1; next } /^[A-Z]/ { on = 0 } on' "$work/page" >"$work/man"
  options() { grep -oE -- '--[a-z][a-z-]*' "$1" | sort -u | tr '\n' ' '; }
  [ "$(options "$work/help")" = "$(options "$work/man")" ] && grep -q TESSERA_DATA_DIR "$work/help" &&
    grep -q TESSERA_DATA_DIR "$work/page" && pass "$name: --help and $name($section) agree: $(options "$work/help")" \
    || fail "$name: --help has $(options "$work/help"), the page $(options "$work/man")"
done

# 6. Where each program looks: the working directory first, then
#    $TESSERA_DATA_DIR; a folder without textures/ is passed over. Damaged
#    music makes each say which folder it chose. A copy of the program with
#    nothing beside it finds nothing, and one line names every place looked.
for dir in cwd var; do
  mkdir -p "$work/$dir/music" "$work/$dir/textures"
  head -c 4096 /dev/zero >"$work/$dir/music/mix.mp3"
done
mkdir -p "$work/notextures/music" "$work/empty" "$work/lone/bin"
cp "$work/cwd/music/mix.mp3" "$work/notextures/music/"
for name in tessera tessera-render; do
  cp "$inst/bin/$name" "$work/lone/bin/"
  args=(); [ "$name" = tessera-render ] && args=(--check --to 1)
  cases=("cwd|$work/var|$inst/bin/$name|$work/cwd" "empty|$work/var|$inst/bin/$name|$work/var"
         "notextures|$work/var|$inst/bin/$name|$work/var")
  for c in "${cases[@]}"; do
    IFS='|' read -r start var binary chosen <<<"$c"
    (cd "$work/$start" && TESSERA_DATA_DIR=$var env -u DISPLAY "$binary" "${args[@]}") >/dev/null 2>"$work/err"
    [ $? = 1 ] && grep -q "cannot play \"music/mix.mp3\" in the working directory $chosen:" "$work/err" \
      && pass "$name from $start, TESSERA_DATA_DIR=${var#$work/}: uses ${chosen#$work/}" \
      || fail "$name from $start: $(cat "$work/err")"
  done
  for var in "" "$work/nowhere"; do
    (cd "$work/empty" && TESSERA_DATA_DIR=$var env -u DISPLAY "$work/lone/bin/$name" "${args[@]}") >/dev/null 2>"$work/err"
    status=$? shown=${var:+\"$var\"}
    shown=${shown:-\$TESSERA_DATA_DIR (not set)}
    [ "$status" = 1 ] && [ "$(wc -l <"$work/err")" = 1 ] &&
      grep -qF "any of: \"$work/empty\", $shown, \"$work/lone/share/tessera\"" "$work/err" \
      && pass "$name with no data${var:+, TESSERA_DATA_DIR set}: $(cat "$work/err")" \
      || fail "$name with no data: status $status, $(cat "$work/err")"
  done
done
(cd "$work/empty" && "$build/tools/render/tessera-render" --check --to 1 >/dev/null 2>&1) \
  && pass "the build tree's renderer finds the build tree's data" || fail "build-tree renderer found no data"

# 7. The installed player, started from /, shows its first frame (the
#    opening card rising in the middle) and Escape ends it with status 0.
start_x_server Xvfb -screen 0 640x480x24 -nolisten tcp -noreset
start_demo "$inst/bin/tessera" /
if [ -n "$window" ]; then
  for _ in $(seq 100); do [ "$(xdotool getwindowname "$window")" -ge 3000 ] 2>/dev/null && break; sleep 0.1; done
  xwd -root -silent | convert xwd:- "$work/shot.png" 2>/dev/null
  card=$(convert "$work/shot.png" -crop 240x180+200+150 -format '%[fx:maxima]' info: 2>/dev/null)
  awk -v c="$card" 'BEGIN { exit !(c > 0.05) }' && pass "installed player from /: the opening card shows (max $card)" \
    || fail "installed player from /: no opening card (max $card)"
  xdotool key Escape
  wait_exit 5
  [ "$status" = 0 ] && pass "Escape ends the installed player with status 0" || fail "Escape: status $status"
else
  fail "the installed player opened no window"; cat "$work/stderr"; kill "$pid" 2>/dev/null
fi

report
