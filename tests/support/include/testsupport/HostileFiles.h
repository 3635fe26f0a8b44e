#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Writes files built to hurt a player: bursts of events, huge counts, extreme times and rates,
// headers that lie. Big ones are written directly (sparse where the content is silence), so a
// test can make the whole set in a temporary folder in a few seconds.
namespace testsupport {

struct HostileFile {
    std::string name; // short, for test traces
    std::filesystem::path path;
};

// A format 0 song of `events` notes (on and off in turn, running status) all at tick 0.
bool writeBurstSong(const std::filesystem::path &path, std::uint32_t events);
// Format 2 with `tracks` tracks of one short note each.
bool writeManyTracksSong(const std::filesystem::path &path, std::uint16_t tracks);
// `changes` Set Tempo events one tick apart, a note under them.
bool writeTempoFloodSong(const std::filesystem::path &path, std::uint32_t changes);
// A note of one quarter, a Set Tempo of 0 after it, then another quarter-note note.
bool writeTempoZeroSong(const std::filesystem::path &path);
// One note whose delta time is the largest a file can hold, 0x0FFFFFFF ticks.
bool writeLongestDeltaSong(const std::filesystem::path &path);
// A sysex of `bytes` bytes between two notes.
bool writeHugeSysexSong(const std::filesystem::path &path, std::uint32_t bytes);

// A 16-bit PCM wave of `frames` frames at `rate` Hz with `channels` channels, holding a
// quiet square wave. `claimedFrames` (when larger) is what the header says instead.
bool writeWave(const std::filesystem::path &path, std::uint32_t rate, std::uint16_t channels,
    std::uint64_t frames, std::uint64_t claimedFrames = 0);
// A 16-bit stereo 44.1 kHz wave of `seconds` seconds whose data is a hole in the file (reads
// as silence, takes no disk space where the file system supports holes).
bool writeSparseWave(const std::filesystem::path &path, std::uint64_t seconds);

// The whole set in `dir`: burst (10 M events at one tick), format 2 with 65 535 tracks, 1 M
// tempo changes, tempo 0, the longest delta, a 1 MB sysex, waves at 1 Hz, 100 Hz, 1 GHz and
// 192 kHz, 64 channels, a header claiming more data than the file holds, a wave over 2 hours.
// Empty when a file cannot be written.
std::vector<HostileFile> writeHostileSet(const std::filesystem::path &dir);

} // namespace testsupport
