#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs every test;
# then builds again with AddressSanitizer + UndefinedBehaviorSanitizer and runs the unit tests,
# and builds the threaded tests with ThreadSanitizer and runs them.
#   TUNEDECK_SKIP_SANITIZERS=1 scripts/test.sh   skips both sanitizer passes (quicker while working)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

jobs=$(nproc)
echo "== Build and test (warnings as errors)"
cmake --preset ci
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs" --timeout 900

if [ "${TUNEDECK_SKIP_SANITIZERS:-0}" = 1 ]; then
    exit 0
fi

echo "== Unit tests under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake --preset asan
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs" -L unit --timeout 900

echo "== Threaded tests under ThreadSanitizer"
# The tests whose code runs on threads of its own: the engine's device and notices, the
# player's device, the about box, the splash, the scrolling panel's worker, the folder reader.
tsan_tests=(DeviceTest TMediaPlayerTest OrvAboutBoxTest SplashScreenTest ScrollTextPanelThreadTest
    TickTimerTest FilCtl95Test)
cmake --preset tsan
cmake --build --preset tsan -j "$jobs" --target "${tsan_tests[@]}"
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy TUNEDECK_OUTPUT=null
export TUNEDECK_MEDIA_DIR="$root/../shared/media" TUNEDECK_SOURCE_DIR="$root"
export TSAN_OPTIONS="halt_on_error=1 suppressions=$root/cmake/tsan.supp"
passed=0
failed=0
for test in "${tsan_tests[@]}"; do
    if (cd "$root/build/tsan" && "bin/$test" >"$root/build/tsan/$test.log" 2>&1); then
        passed=$((passed + 1))
        echo "tsan: $test passed"
    else
        failed=$((failed + 1))
        echo "tsan: $test FAILED"
        tail -n 60 "$root/build/tsan/$test.log"
    fi
done
echo "tsan: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
