#!/usr/bin/env bash
# Installs what is missing and checks the formatting of every C++ file; builds everything with
# warnings as errors and runs every test; then builds the unit tests with AddressSanitizer +
# UndefinedBehaviorSanitizer (leak detection on) and runs them, and builds the threaded tests with
# ThreadSanitizer and runs them. Prints the time each pass took at the end.
#   TUNEDECK_SKIP_SANITIZERS=1 scripts/test.sh   skips both sanitizer passes (quicker while working)
#   TUNEDECK_MEDIA_DIR=folder scripts/test.sh    adds the rows of real media in that folder
#                                                (default: ../shared/media when it exists)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

if [ -z "${TUNEDECK_MEDIA_DIR:-}" ] && [ -d "$root/../shared/media" ]; then
    TUNEDECK_MEDIA_DIR=$(cd "$root/../shared/media" && pwd)
fi
export TUNEDECK_MEDIA_DIR="${TUNEDECK_MEDIA_DIR:-}"
if [ -z "$TUNEDECK_MEDIA_DIR" ]; then
    echo "No real-media folder (TUNEDECK_MEDIA_DIR): the tests' rows of real files skip."
fi

timings=()
pass_name=""
pass_started=0
begin_pass() {
    pass_name=$1
    pass_started=$SECONDS
    echo "== $pass_name"
}
end_pass() { timings+=("$(printf '%6ds  %s' $((SECONDS - pass_started)) "$pass_name")"); }
report() {
    echo "== Time per pass"
    if [ ${#timings[@]} -gt 0 ]; then printf '%s\n' "${timings[@]}"; fi
    printf '%6ds  all\n' "$SECONDS"
}
trap report EXIT

jobs=$(nproc)

begin_pass "Formatting (clang-format)"
git ls-files -z '*.cpp' '*.h' '*.c' | xargs -0 clang-format --dry-run -Werror
end_pass

begin_pass "Build and test (warnings as errors)"
cmake --preset ci -DTUNEDECK_MEDIA_DIR="$TUNEDECK_MEDIA_DIR"
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs" --timeout 900
end_pass

if [ "${TUNEDECK_SKIP_SANITIZERS:-0}" = 1 ]; then
    exit 0
fi

begin_pass "Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan -DTUNEDECK_MEDIA_DIR="$TUNEDECK_MEDIA_DIR"
cmake --build --preset asan -j "$jobs" --target unit_tests
ctest --preset asan -j "$jobs" -L unit --timeout 900
end_pass

begin_pass "Threaded tests under ThreadSanitizer"
# The tests whose code runs on threads of its own: the engine's device, notices, wave decoders
# (and their stress test) and song readers (on the null output and on SDL's dummy driver, with
# a song's own soundfont), the player's device, the about box, the splash, the scrolling
# panel's worker, the folder reader; and a song moving to a synthesiser read for every key.
tsan_tests=(DeviceTest HostileFilesTest WaveStressTest SongBankTest TMediaPlayerTest
    OrvAboutBoxTest SplashScreenTest ScrollTextPanelThreadTest TickTimerTest FilCtl95Test
    ListenerControlsTest)
# The hostile files on the SDL output and the large-song reader: the null-output rows do the
# same calls on one thread fewer, at twice the time.
declare -A tsan_filter=([HostileFilesTest]='*/Sdl:*ALargeSong*:*WaveFiles*'
    [ListenerControlsTest]='*OnTheOutput')
cmake --preset tsan -DTUNEDECK_MEDIA_DIR="$TUNEDECK_MEDIA_DIR"
cmake --build --preset tsan -j "$jobs" --target "${tsan_tests[@]}"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy TUNEDECK_OUTPUT=null
export TUNEDECK_SOURCE_DIR="$root"
# The tests' own home and XDG folders (made by the configure step), never the real ones.
export HOME="$root/build/tsan/test-home" XDG_CONFIG_HOME="$root/build/tsan/test-home/config" \
    XDG_CACHE_HOME="$root/build/tsan/test-home/cache" XDG_DATA_HOME="$root/build/tsan/test-home/data"
export TSAN_OPTIONS="halt_on_error=1 suppressions=$root/cmake/tsan.supp"
# One test run under TSan, its output in build/tsan/NAME.log; NAME.passed marks success.
run_tsan() {
    rm -f "$root/build/tsan/$1.passed"
    if (cd "$root/build/tsan" && GTEST_FILTER="${tsan_filter[$1]:-*}" "bin/$1" \
        >"$root/build/tsan/$1.log" 2>&1); then
        touch "$root/build/tsan/$1.passed"
    fi
}
# The longest runs beside the others, which run one after another.
longest=HostileFilesTest
run_tsan "$longest" &
for test in "${tsan_tests[@]}"; do
    [ "$test" = "$longest" ] || run_tsan "$test"
done
wait
passed=0
failed=0
for test in "${tsan_tests[@]}"; do
    if [ -f "$root/build/tsan/$test.passed" ]; then
        passed=$((passed + 1))
        echo "tsan: $test passed"
    else
        failed=$((failed + 1))
        echo "tsan: $test FAILED"
        tail -n 60 "$root/build/tsan/$test.log"
    fi
done
echo "tsan: $passed passed, $failed failed"
end_pass
[ "$failed" -eq 0 ]
