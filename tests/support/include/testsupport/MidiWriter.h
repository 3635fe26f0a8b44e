#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

// Writes MIDI files for test fixtures: well-formed ones event by event, and deliberately broken
// ones through raw bytes and lying lengths. Qt-free, so engine and player tests share it.
namespace testsupport {

using Bytes = std::vector<std::uint8_t>;

// Whether a track writer leaves out a channel status byte that repeats the previous one.
enum class RunningStatus { Off, On };

// A variable-length quantity as standard MIDI files store delta times and lengths.
Bytes varLen(std::uint32_t value);

// Builds one MTrk body. Every event takes its delta time in ticks since the previous event.
class TrackWriter {
public:
    explicit TrackWriter(RunningStatus runningStatus = RunningStatus::Off);

    TrackWriter &noteOn(std::uint32_t delta, int channel, int key, int velocity);
    TrackWriter &noteOff(std::uint32_t delta, int channel, int key, int velocity = 0);
    TrackWriter &controller(std::uint32_t delta, int channel, int number, int value);
    TrackWriter &program(std::uint32_t delta, int channel, int program);
    // `value` is 0..16383, 8192 being the centre.
    TrackWriter &pitchBend(std::uint32_t delta, int channel, int value);
    // Any channel message; `data2` is ignored for program change and channel pressure.
    TrackWriter &channelMessage(std::uint32_t delta, std::uint8_t status, int data1, int data2 = 0);
    TrackWriter &tempo(std::uint32_t delta, std::uint32_t usPerQuarter);
    TrackWriter &meta(std::uint32_t delta, std::uint8_t type, std::span<const std::uint8_t> data);
    TrackWriter &text(std::uint32_t delta, std::uint8_t type, std::string_view text);
    // F0, the length, then `data` (which should end with F7).
    TrackWriter &sysex(std::uint32_t delta, std::span<const std::uint8_t> data);
    // F7, the length, then `data` as is: an escape or a sysex continuation.
    TrackWriter &sysexEscape(std::uint32_t delta, std::span<const std::uint8_t> data);
    TrackWriter &endOfTrack(std::uint32_t delta = 0);
    // Bytes appended as they are, for broken tracks; running status is forgotten.
    TrackWriter &raw(std::span<const std::uint8_t> bytes);

    const Bytes &bytes() const { return m_bytes; }

private:
    void status(std::uint32_t delta, std::uint8_t status);

    Bytes m_bytes;
    RunningStatus m_runningStatus;
    std::uint8_t m_lastStatus = 0;
};

// Builds a standard MIDI file from tracks and other chunks, in the order they are added.
class SmfWriter {
public:
    // Metrical time: `ticksPerQuarter` ticks per quarter note.
    SmfWriter(int format, std::uint16_t ticksPerQuarter);
    // SMPTE time: `framesPerSecond` is 24, 25, 29 or 30 (or anything, for broken files).
    [[nodiscard]] static SmfWriter smpte(int format, int framesPerSecond, int ticksPerFrame);

    SmfWriter &track(const TrackWriter &track);
    // A track chunk whose length field says `declaredLength` instead of its true length.
    SmfWriter &trackWithLength(const TrackWriter &track, std::uint32_t declaredLength);
    // Any chunk, e.g. an unknown one the reader must skip.
    SmfWriter &chunk(std::string_view id, std::span<const std::uint8_t> body);
    // Extra bytes after the six of the header chunk (its length grows to match).
    SmfWriter &headerExtra(std::span<const std::uint8_t> bytes);
    // The header's track count, instead of the number of track chunks added.
    SmfWriter &declaredTracks(int count);
    // The header's raw division word, instead of the one given to the constructor.
    SmfWriter &division(std::uint16_t division);

    Bytes bytes() const;

private:
    int m_format;
    std::uint16_t m_division;
    int m_trackChunks = 0;
    int m_declaredTracks = -1;
    Bytes m_headerExtra;
    Bytes m_chunks;
};

// An RMID file holding `smf` in its data chunk (padded to an even length), after an INFO list
// with a name when `name` is not empty, as real .rmi files carry one, and the `tags` given (tag,
// text), and after a DISP chunk holding `display` (padded too) when that is not empty.
Bytes wrapRmi(std::span<const std::uint8_t> smf, std::string_view name = "Tunedeck test",
    std::span<const std::uint8_t> display = {},
    std::initializer_list<std::pair<const char *, std::string_view>> tags = {});

// Writes `bytes` to `path`, replacing it; returns false when the file cannot be written.
bool writeFile(const std::filesystem::path &path, std::span<const std::uint8_t> bytes);

} // namespace testsupport
