#!/usr/bin/env bash
# Installs the build tree into a scratch prefix, moves the prefix elsewhere (so nothing can lean
# on the build folder or on where it was installed), and checks what a desktop needs: the files,
# a valid desktop entry, relative RUNPATHs only, and programs that run from the prefix.
#   install_tree.sh BUILD_DIR EXAMPLES_DIR
set -euo pipefail
build=$(realpath "$1")
examples=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/staged" >"$work/install.log" \
    || fail "cmake --install failed: $(cat "$work/install.log")"
mv "$work/staged" "$work/moved"
p="$work/moved"

for f in bin/tunedeck bin/tdplay bin/keysweep bin/Tunedeck.hlp lib/liborvkit.so.1 \
    include/orvkit/orvkit.h share/applications/tunedeck.desktop share/mime/packages/tunedeck.xml \
    lib/tunedeck/tunedeck-sound.so share/icons/hicolor/48x48/apps/tunedeck.png share/icons/hicolor/64x64/apps/tunedeck.png \
    share/icons/hicolor/128x128/apps/tunedeck.png share/icons/hicolor/256x256/apps/tunedeck.png; do
    [ -e "$p/$f" ] || fail "$f is not installed"
done

if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$p/share/applications/tunedeck.desktop" || fail "desktop entry invalid"
else
    echo "desktop-file-validate is not installed (scripts/deps.sh installs it); entry not validated"
fi
grep -q '^Exec=tunedeck %F$' "$p/share/applications/tunedeck.desktop" || fail "Exec is not 'tunedeck %F'"
if command -v xmllint >/dev/null; then
    xmllint --noout "$p/share/mime/packages/tunedeck.xml" || fail "MIME package is not well-formed"
fi
# "Open with Tunedeck" for each kind of file it opens: the type the shared MIME database (and the
# package installed here) gives each extension is among the entry's types, and every type the
# entry names is one the database knows.
freedesktop=/usr/share/mime/packages/freedesktop.org.xml
if [ -f "$freedesktop" ]; then
    python3 - "$freedesktop" "$p/share/mime/packages/tunedeck.xml" \
        "$p/share/applications/tunedeck.desktop" <<'PY' || fail "desktop entry and MIME types disagree"
import sys
import xml.etree.ElementTree as ET
ns = "{http://www.freedesktop.org/standards/shared-mime-info}"
names, by_glob = {}, {}
for package in sys.argv[1:3]:
    for kind in ET.parse(package).getroot().iter(ns + "mime-type"):
        type_ = kind.get("type")
        for name in [type_] + [alias.get("type") for alias in kind.iter(ns + "alias")]:
            names[name] = type_
        for glob in kind.iter(ns + "glob"):
            by_glob.setdefault(glob.get("pattern"), set()).add(type_)
listed = next(line for line in open(sys.argv[3]) if line.startswith("MimeType="))
listed = {names.get(name, "?" + name) for name in listed[9:].strip().strip(";").split(";")}
unknown = sorted(name[1:] for name in listed if name.startswith("?"))
unlisted = sorted(ext for ext in ("*.mid", "*.rmi", "*.wav", "*.tdl", "*.m3u", "*.m3u8", "*.pls",
                                  "*.xspf") if not by_glob.get(ext, set()) & listed)
if unknown or unlisted:
    sys.exit(f"types no one defines: {unknown}; files with no type listed: {unlisted}")
PY
else
    echo "shared-mime-info is not installed; the entry's types not checked"
fi

# Every RUNPATH, installed and in the build tree, is relative to the binary (CMake pads build
# RUNPATHs with empty entries to make room for the installed one; they name no folder).
for bin in "$p"/bin/* "$p"/lib/*.so* "$build"/bin/*; do
    [ -f "$bin" ] && [ ! -L "$bin" ] || continue
    head -c 4 "$bin" | grep -q ELF || continue
    runpath=$(readelf -d "$bin" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p')
    [ -z "$runpath" ] && continue
    tr ':' '\n' <<<"$runpath" | while read -r entry; do
        case "$entry" in '$ORIGIN'* | '') ;; *) fail "$bin has RUNPATH entry $entry" ;; esac
    done
done

# The program finds the library in the prefix, and the engine's player runs from there.
ldd "$p/bin/tunedeck" | grep "liborvkit.so.1 => $p/bin/../lib/liborvkit.so.1" >/dev/null \
    || fail "tunedeck does not resolve liborvkit from the prefix: $(ldd "$p/bin/tunedeck" | grep orvkit)"
# The audio libraries come with the sound module, loaded after the window shows, not with the
# program; the module finds every library it needs.
! readelf -d "$p/bin/tunedeck" | grep -E "NEEDED.*(fluidsynth|SDL2|sndfile|samplerate)" \
    || fail "tunedeck links an audio library itself instead of leaving it to the sound module"
! ldd "$p/lib/tunedeck/tunedeck-sound.so" | grep "not found" \
    || fail "the sound module misses a library"
song=$(ls "$examples"/*.mid | sed -n 1p)
"$p/bin/tdplay" --info "$song" >"$work/info.log" 2>&1 || fail "tdplay --info failed: $(cat "$work/info.log")"
echo "installed tree: files present, entry valid, RUNPATHs relative, tdplay --info: $(head -1 "$work/info.log")"
