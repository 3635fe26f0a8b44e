#!/usr/bin/env bash
# keysweep against real Wine: builds a prefix with wineboot, adds trees with `wine reg add`,
# stops the server, deletes with keysweep, and checks with `wine reg query` / `reg export` that
# exactly those trees are gone while siblings and values stay. Also checks that keysweep refuses
# (status 2, nothing changed) while the prefix's wineserver runs. Skipped (status 77) where
# wine is not installed.
set -euo pipefail
keysweep=${1:?usage: wine_integration.sh path/to/keysweep}
if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
    echo "wine is not installed; skipping"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keysweep-wine-XXXXXX")
export WINEPREFIX="$work/prefix" TMPDIR="$work/tmp" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$TMPDIR"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # check "what" command... : the command must succeed
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
absent() { ! wine reg query "$1" >/dev/null 2>&1; }
present() { wine reg query "$1" >/dev/null 2>&1; }
has_value() { wine reg query "$1" /v "$2" 2>/dev/null | grep -q "$3"; }
export_text() { iconv -f UTF-16 -t UTF-8 "$work/export.reg" 2>/dev/null || cat "$work/export.reg"; }
in_export() { export_text | grep -qF "$1"; }
not_in_export() { ! in_export "$1"; }

wineboot -i >/dev/null 2>&1
wineserver -w

base='HKCU\Software\KeysweepTest'
wine reg add "$base\\Alpha" /v name /d value /f >/dev/null
wine reg add "$base\\Alpha\\Beta 1\\Gamma" /f >/dev/null
wine reg add "$base\\Alpha\\Beta 2" /v x /t REG_DWORD /d 7 /f >/dev/null
for i in 1 2 3; do
    for j in a b c; do
        wine reg add "$base\\Alpha\\Level $i\\Sub $j\\Leaf" /v n /d "$i$j" /f >/dev/null
    done
done
wine reg add "$base\\Alpha Sibling" /v s /d one /f >/dev/null
wine reg add "$base\\AlphaBeta" /v s /d two /f >/dev/null
wine reg add "$base\\Zeta\\Deep\\L1\\L2" /v leaf /d x /f >/dev/null
wine reg add "$base\\Ünïcödé Ключ 子键" /v k /d v /f >/dev/null
wine reg add 'HKLM\Software\KeysweepTest\Alpha' /v m /d machine /f >/dev/null
wineserver -w
# The keys to be deleted must be there first, or their absence later proves nothing.
check "set up Alpha\\Level 3\\Sub c\\Leaf" present "$base\\Alpha\\Level 3\\Sub c\\Leaf"
check "set up Zeta\\Deep\\L1\\L2" present "$base\\Zeta\\Deep\\L1\\L2"
check "set up the non-ASCII key" present "$base\\ünïcödé ключ 子键"
wineserver -w

# While the server runs, keysweep refuses with status 2 and changes nothing.
wineserver -p >/dev/null 2>&1
wine reg query "$base\\AlphaBeta" >/dev/null  # returns once the server answers
before=$(sha256sum "$WINEPREFIX/user.reg")
set +e
"$keysweep" -C 'Software\KeysweepTest\Alpha' 2>"$work/stderr.txt"
status=$?
set -e
cat "$work/stderr.txt"
check "refuses while the wineserver runs (status $status)" test "$status" -eq 2
check "says why" grep -q "is running" "$work/stderr.txt"
check "changed nothing while the server ran" test "$before" = "$(sha256sum "$WINEPREFIX/user.reg")"
wineserver -k
wineserver -w

check "deletes Alpha" "$keysweep" -C 'Software\KeysweepTest\Alpha'
check "deletes Zeta\\Deep\\L1" "$keysweep" -C '\Software\KeysweepTest\Zeta\Deep\L1'
check "deletes a case-variant non-ASCII key" "$keysweep" -C 'SOFTWARE\KEYSWEEPTEST\ÜNÏCÖDÉ КЛЮЧ 子键'
check "absent key ends with status 0" "$keysweep" -C 'Software\KeysweepTest\Nothing'

check "Alpha is gone" absent "$base\\Alpha"
check "Alpha\\Beta 1\\Gamma is gone" absent "$base\\Alpha\\Beta 1\\Gamma"
check "Alpha\\Level 3\\Sub c\\Leaf is gone" absent "$base\\Alpha\\Level 3\\Sub c\\Leaf"
check "Alpha Sibling keeps its value" has_value "$base\\Alpha Sibling" s one
check "AlphaBeta keeps its value" has_value "$base\\AlphaBeta" s two
check "Zeta\\Deep\\L1 is gone" absent "$base\\Zeta\\Deep\\L1"
check "Zeta\\Deep is kept" present "$base\\Zeta\\Deep"
check "the non-ASCII key is gone" absent "$base\\Ünïcödé Ключ 子键"
check "HKLM Alpha is untouched" has_value 'HKLM\Software\KeysweepTest\Alpha' m machine
wine reg export "$base" "$work/export.reg" /y >/dev/null 2>&1 || true
check "the export lists the siblings" in_export 'KeysweepTest\Alpha Sibling]'
check "the export has no Alpha key" not_in_export 'KeysweepTest\Alpha]'
check "the export has nothing below Alpha" not_in_export 'KeysweepTest\Alpha\'
check "the export keeps Zeta\\Deep" in_export 'KeysweepTest\Zeta\Deep]'

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
