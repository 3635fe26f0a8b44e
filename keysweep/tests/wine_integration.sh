#!/usr/bin/env bash
# keysweep against real Wine: builds a prefix with wineboot, adds trees under HKCU and HKLM with
# `wine reg add` (case pairs that Unicode folding would merge among them) and writes sections
# Wine loads but never writes itself (a header with a leading separator, a 603-level key). A
# copy of the prefix gets the same deletions from `wine reg delete`; both are then exported and
# must be equal, besides the checks with `wine reg query`. Also: keysweep refuses (status 2,
# nothing changed) while the prefix's wineserver runs, and a server started while keysweep runs
# on a large hive with no server folder yet waits for it instead of writing the old keys back.
# Skipped (status 77) where wine is not installed.
set -euo pipefail
keysweep=${1:?usage: wine_integration.sh path/to/keysweep}
if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
    echo "wine is not installed; skipping"
    exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keysweep-wine-XXXXXX")
prefix="$work/prefix"
twin="$work/twin"
# A home of its own: wineboot's menu builder writes below $HOME and the XDG folders.
export HOME="$work/home" WINEPREFIX="$prefix" TMPDIR="$work/tmp" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
mkdir -p "$TMPDIR" "$HOME"
cleanup() {
    for p in "$prefix" "$twin" "$work/probe"; do
        WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true
        WINEPREFIX="$p" wineserver -w >/dev/null 2>&1 || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
# A step of the set-up that fails ends the test; say which (Wine's own messages are off). Steps
# run with `set +e` are expected to fail and say nothing.
trap 'step_status=$?; [[ $- == *e* ]] && echo "FAIL: line $LINENO: $BASH_COMMAND (status $step_status)" >&2' ERR

failures=0
check() {  # check "what" command... : the command must succeed
    local what=$1; shift
    if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}
absent() { ! wine reg query "$1" >/dev/null 2>&1; }
present() { wine reg query "$1" >/dev/null 2>&1; }
has_value() { wine reg query "$1" /v "$2" 2>/dev/null | grep "$3" >/dev/null; }
same_export() {  # same_export KEY: the prefix and its twin export KEY alike
    WINEPREFIX="$prefix" wine reg export "$1" "$work/mine.reg" /y >/dev/null 2>&1
    WINEPREFIX="$twin" wine reg export "$1" "$work/wines.reg" /y >/dev/null 2>&1
    cmp -s "$work/mine.reg" "$work/wines.reg"
}

# Wine's first start in a new prefix has failed now and then (wineboot status 53, before anything
# of ours ran): a second start in a clean prefix, and a skip that says so when Wine cannot start.
boot_prefix() {
    local attempt status
    for attempt in 1 2; do
        status=0
        WINEDEBUG=err+all wineboot -i >"$work/wineboot.log" 2>&1 || status=$?
        wineserver -w || status=$?
        [[ $status -eq 0 ]] && return 0
        echo "wineboot -i failed (status $status, attempt $attempt)" >&2
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
        rm -rf "$prefix"
    done
    tail -n 5 "$work/wineboot.log" >&2
    echo "Wine cannot make a prefix here; skipping"
    exit 77
}
boot_prefix

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
# Pairs that Unicode case folding merges and Wine keeps apart; the first of each is deleted.
pairs=('Aſ' 'As' 'Mµ' 'Mμ' 'Sς' 'Sσ' 'Xẞ' 'Xß' 'D𐐀' 'D𐐨')
for name in "${pairs[@]}"; do
    wine reg add "$base\\Fold\\$name" /v n /d "$name" /f >/dev/null
done
wine reg add 'HKLM\Software\KeysweepTest\Alpha' /v m /d machine /f >/dev/null
wine reg add 'HKLM\Software\KeysweepTest\Alpha\Below' /v b /d below /f >/dev/null
wine reg add 'HKLM\Software\KeysweepTest\AlphaBeta' /v m /d kept /f >/dev/null
wineserver -w
# A key 603 levels deep, which Wine loads (and `wine reg add` cannot make). A server still
# running would write its own registry over the file when it ends: written again until it stays.
for _ in 1 2 3; do
    grep -q '^"v"="deep"' "$prefix/user.reg" && break
    {
        printf '\n[Software\\\\KeysweepTest\\\\Chain'
        for _ in $(seq 602); do printf '\\\\L'; done
        printf '] 1796736615\n"v"="deep"\n'
    } >>"$prefix/user.reg"
    wineserver -w
done
# The keys to be deleted must be there first, or their absence later proves nothing.
check "set up Alpha\\Level 3\\Sub c\\Leaf" present "$base\\Alpha\\Level 3\\Sub c\\Leaf"
check "set up Zeta\\Deep\\L1\\L2" present "$base\\Zeta\\Deep\\L1\\L2"
check "set up the non-ASCII key" present "$base\\ünïcödé ключ 子键"
check "set up Chain\\L\\L (603 levels)" present "$base\\Chain\\L\\L"
for name in "${pairs[@]}"; do check "set up Fold\\$name" present "$base\\Fold\\$name"; done
check "set up HKLM Alpha\\Below" present 'HKLM\Software\KeysweepTest\Alpha\Below'
wineserver -w

# While the server runs, keysweep refuses with status 2 and changes nothing.
wineserver -p >/dev/null 2>&1
wine reg query "$base\\AlphaBeta" >/dev/null  # returns once the server answers
before=$(sha256sum "$prefix/user.reg")
set +e
"$keysweep" -C 'Software\KeysweepTest\Alpha' 2>"$work/stderr.txt"
status=$?
set -e
cat "$work/stderr.txt"
check "refuses while the wineserver runs (status $status)" test "$status" -eq 2
check "says why" grep -q "is running" "$work/stderr.txt"
check "changed nothing while the server ran" test "$before" = "$(sha256sum "$prefix/user.reg")"
wineserver -k
wineserver -w

# A header with a leading separator, which Wine reads as the same path without it (and never
# writes: any save turns it into the plain form, so it is added only now).
printf '\n[\\\\Software\\\\KeysweepTest\\\\Alpha\\\\LeadSep] 1796736615\n"v"="lead"\n' >>"$prefix/user.reg"
cp -a "$prefix" "$work/probe"
check "set up Alpha\\LeadSep (leading separator)" env WINEPREFIX="$work/probe" wine reg query "$base\\Alpha\\LeadSep"
WINEPREFIX="$work/probe" wineserver -k || true
WINEPREFIX="$work/probe" wineserver -w
check "the leading separator is still in the hive" grep -qF '[\\Software\\KeysweepTest\\Alpha\\LeadSep]' "$prefix/user.reg"

# The same deletions: keysweep on the prefix, `wine reg delete` on its twin.
cp -a "$prefix" "$twin"
deletions=(
    '-C|Software\KeysweepTest\Alpha'
    '-C|\Software\KeysweepTest\Zeta\Deep\L1'
    '-C|SOFTWARE\KEYSWEEPTEST\ÜNÏCÖDÉ КЛЮЧ 子键'
    '-C|Software\KeysweepTest\Chain'
    '-L|Software\KeysweepTest\Alpha'
    '-C|Software\KeysweepTest\Nothing'
)
for ((i = 0; i < ${#pairs[@]}; i += 2)); do deletions+=("-C|Software\\KeysweepTest\\Fold\\${pairs[i]}"); done
for deletion in "${deletions[@]}"; do
    root=${deletion%%|*}
    path=${deletion#*|}
    check "keysweep $root $path" "$keysweep" "$root" "$path"
    hive=HKCU
    if [ "$root" = -L ]; then hive=HKLM; fi
    WINEPREFIX="$twin" wine reg delete "$hive\\${path#\\}" /f >/dev/null 2>&1 || true
done
WINEPREFIX="$twin" wineserver -w

check "Alpha is gone" absent "$base\\Alpha"
check "Alpha\\Beta 1\\Gamma is gone" absent "$base\\Alpha\\Beta 1\\Gamma"
check "Alpha\\Level 3\\Sub c\\Leaf is gone" absent "$base\\Alpha\\Level 3\\Sub c\\Leaf"
check "Alpha\\LeadSep is gone" absent "$base\\Alpha\\LeadSep"
check "Alpha Sibling keeps its value" has_value "$base\\Alpha Sibling" s one
check "AlphaBeta keeps its value" has_value "$base\\AlphaBeta" s two
check "Zeta\\Deep\\L1 is gone" absent "$base\\Zeta\\Deep\\L1"
check "Zeta\\Deep is kept" present "$base\\Zeta\\Deep"
check "the non-ASCII key is gone" absent "$base\\Ünïcödé Ключ 子键"
check "the 603-level chain is gone" absent "$base\\Chain"
for ((i = 0; i < ${#pairs[@]}; i += 2)); do
    check "Fold\\${pairs[i]} is gone" absent "$base\\Fold\\${pairs[i]}"
    check "Fold\\${pairs[i + 1]} is kept" present "$base\\Fold\\${pairs[i + 1]}"
done
check "HKLM Alpha is gone" absent 'HKLM\Software\KeysweepTest\Alpha'
check "HKLM AlphaBeta keeps its value" has_value 'HKLM\Software\KeysweepTest\AlphaBeta' m kept
check "the HKCU export equals wine reg delete's" same_export "$base"
check "the HKLM export equals wine reg delete's" same_export 'HKLM\Software\KeysweepTest'
wineserver -w
WINEPREFIX="$twin" wineserver -w

# A server that starts while keysweep works, with no server folder yet, must wait for it: were
# it to load the old hive, it would write the deleted keys back when it exits.
rm -rf "$TMPDIR"/wine-* "$prefix/wineserver"
python3 - "$prefix/user.reg" <<'PY'
import sys
with open(sys.argv[1], "a", newline="\n") as out:
    for i in range(150000):
        out.write('\n[Software\\\\KeysweepTest\\\\Big\\\\Group %d\\\\Key %d] 1796736615\n"v"="%s"\n'
                  % (i // 100, i, "x" * 200))
PY
"$keysweep" -C 'Software\KeysweepTest\Big' &
sweeper=$!
for _ in 1 2 3 4 5; do  # Wine started about 0.05 s after keysweep, as it was seen
    if compgen -G "$TMPDIR/wine-*/server-*/lock" >/dev/null; then break; fi
    sleep 0.01
done
overlapped=no
if kill -0 "$sweeper" 2>/dev/null; then overlapped=yes; fi
wine reg query "$base\\Big\\Group 0\\Key 0" >/dev/null 2>&1 && seen=old || seen=new
wait "$sweeper"
wineserver -w
if [ "$overlapped" = no ]; then echo "note: keysweep ended before Wine started; the next two checks prove little"; fi
check "the server waited and loaded the new hive" test "$seen" = new
check "the server left the deletion in place" absent "$base\\Big"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
