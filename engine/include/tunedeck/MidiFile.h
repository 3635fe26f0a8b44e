#pragma once

#include "tunedeck/Result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace tunedeck {

// What kind of MIDI container a song came in.
enum class MidiKind { Smf0, Smf1, Smf2, Rmi };

// One event of a song, with its time resolved through the tempo map.
struct MidiEvent {
    std::uint64_t tick = 0;      // absolute tick (format 2: counted on from the previous track's end)
    std::int64_t timeUs = 0;     // absolute time in microseconds, exact (floor of the exact value)
    std::uint16_t track = 0;     // index of the track chunk the event came from
    std::uint8_t status = 0;     // 0x80..0xEF channel message, 0xF0/0xF7 sysex, 0xFF meta
    std::uint8_t metaType = 0;   // meta events only
    std::uint8_t data1 = 0;      // channel messages: first data byte
    std::uint8_t data2 = 0;      // channel messages: second data byte (0 where there is none)
    std::uint32_t dataOffset = 0;  // sysex/meta payload: offset into MidiFile::payload()
    std::uint32_t dataLength = 0;  // sysex/meta payload length in bytes (sysex: without the F0)
};

// A standard MIDI file, or the one inside an RMI wrapper, as one list of events ordered by time
// (ties keep track order, then file order). Immutable once read, so any thread may read it.
class MidiFile {
public:
    // Parses bytes in memory; never reads past `data`.
    [[nodiscard]] static Result<MidiFile> parse(std::span<const std::uint8_t> data);
    // Reads the whole file, then parses it. Fails with Error::Code::FileNotFound or Io.
    [[nodiscard]] static Result<MidiFile> read(const std::filesystem::path &path);

    MidiKind kind() const { return m_kind; }
    int format() const { return m_format; }            // 0, 1 or 2
    int trackCount() const { return m_trackCount; }
    // Division: ticks per quarter note, or 0 when the file uses SMPTE time.
    std::uint16_t ticksPerQuarter() const { return m_ticksPerQuarter; }
    std::span<const MidiEvent> events() const { return m_events; }
    // Payload bytes of sysex and meta events, addressed by MidiEvent::dataOffset/dataLength.
    std::span<const std::uint8_t> payload() const { return m_payload; }
    // Length in milliseconds: time of the last event including End of Track, truncated.
    std::uint32_t lengthMs() const { return m_lengthMs; }

private:
    MidiKind m_kind = MidiKind::Smf0;
    int m_format = 0;
    int m_trackCount = 0;
    std::uint16_t m_ticksPerQuarter = 0;
    std::vector<MidiEvent> m_events;
    std::vector<std::uint8_t> m_payload;
    std::uint32_t m_lengthMs = 0;
};

} // namespace tunedeck
