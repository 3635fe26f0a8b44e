#!/usr/bin/env bash
# Installs the Debian 12 packages Tunedeck builds, runs and tests with. Only what is missing is
# fetched, so a second run costs a few seconds. Needs root (or sudo) the first time.
#   scripts/deps.sh          what scripts/test.sh needs
#   scripts/deps.sh fuzz     the same (the fuzz preset's clang toolchain is among them)
#   scripts/deps.sh bench    and the peers bench/ measures beside Tunedeck (sox's PulseAudio output,
#                            Audacious for bench/light.sh's start-up, FluidR3 for its memory figures)
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
    libfluidsynth-dev libglib2.0-dev fluidsynth libsndfile1-dev libsamplerate0-dev libsdl2-dev
    timgm6mb-soundfont fonts-liberation2 fonts-dejavu-core fonts-wine
    libgtest-dev libgmock-dev clang-format
    # The sanitizer presets build with clang: twice as fast as gcc with ASan and UBSan on.
    clang libclang-rt-14-dev
    python3 python3-mido
    xvfb xauth xdotool x11-utils openbox imagemagick sox
    dbus-daemon dbus-bin desktop-file-utils libxml2-utils playerctl
    # A private sound server with a null sink for the output tests and bench: PulseAudio runs
    # as one process, where PipeWire would need its session manager and Pulse layer beside it.
    pulseaudio pulseaudio-utils libpulse-dev
    at-spi2-core python3-pyatspi  # a screen reader's view in the accessibility test
    wine wine64  # keysweep's integration test and bench compare with Wine 8 (about 100 MB)
)
if [ "${1:-}" = bench ]; then
    packages+=(libsox-fmt-pulse audacious fluid-soundfont-gm)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
