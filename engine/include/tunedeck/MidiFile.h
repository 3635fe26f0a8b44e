#pragma once

#include "tunedeck/Result.h"
#include "tunedeck/SongText.h"
#include "tunedeck/TempoMap.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace tunedeck {

// What kind of MIDI container a song came in.
enum class MidiKind { Smf0, Smf1, Smf2, Rmi };

// One event of a song in 12 bytes: its tick, its status and what it carries. Times come from
// the song's tempo map (MidiFile::timeUsOf, frameOf); sysex and meta payloads live in
// MidiFile::payload().
struct MidiEvent {
    // The largest tick an event can have (48 bits); later ones are held there.
    static constexpr std::uint64_t kMaxTick = (std::uint64_t { 1 } << 48) - 1;

    std::uint32_t tickLow = 0;
    std::uint16_t tickHigh = 0;
    std::uint8_t status = 0; // 0x80..0xEF channel message, 0xF0/0xF7 sysex, 0xFF meta
    std::uint8_t metaType = 0; // meta events only
    // Channel messages: the data bytes (data1 | data2 << 8). Sysex and meta: where the payload
    // stands in MidiFile::payload().
    std::uint32_t ref = 0;

    // Absolute tick (format 2: counted on from the previous track's end).
    std::uint64_t tick() const { return std::uint64_t { tickHigh } << 32 | tickLow; }
    void setTick(std::uint64_t tick)
    {
        tick = tick > kMaxTick ? kMaxTick : tick;
        tickLow = static_cast<std::uint32_t>(tick);
        tickHigh = static_cast<std::uint16_t>(tick >> 32);
    }
    // Channel messages: the first and second data bytes (0 where there is none).
    std::uint8_t data1() const { return isChannelMessage() ? std::uint8_t(ref & 0x7F) : 0; }
    std::uint8_t data2() const { return isChannelMessage() ? std::uint8_t(ref >> 8 & 0x7F) : 0; }

    bool isChannelMessage() const { return status >= 0x80 && status < 0xF0; }
    bool isMeta() const { return status == 0xFF; }
    bool isSysex() const { return status == 0xF0 || status == 0xF7; }
};
static_assert(sizeof(MidiEvent) == 12);

// Meta event types the engine acts on.
inline constexpr std::uint8_t kMetaEndOfTrack = 0x2F;
inline constexpr std::uint8_t kMetaSetTempo = 0x51;

// A standard MIDI file, or the one inside an RMI wrapper, as one list of events ordered by time
// (ties keep track order, then file order). Immutable once read, so any thread may read it.
// Memory: 12 bytes an event, counted before anything is stored, plus the sysex and meta
// payloads; the file's bytes are let go before the tracks are merged.
//
// Real files are often slightly broken, and other players still play them; so does this reader:
// a track without End of Track ends after its last complete event, a chunk that runs past the
// end of the file keeps what is there, unknown chunks and extra header bytes are skipped.
// Anything that is not a MIDI file at all is refused with its own Error code and detail.
class MidiFile {
public:
    // The largest input accepted: far beyond any real song, small enough that payload offsets
    // fit 32 bits and a mistaken multi-gigabyte file is not read into memory.
    static constexpr std::size_t kMaxBytes = 64u << 20;

    // Parses bytes in memory; never reads past `data`, allocates at most in proportion to its
    // size, and runs in time linear in it (plus merging the tracks). Fails with
    // Error::Code::NotMidi (not a
    // MIDI file: empty, wrong magic, a RIFF file of another form), Truncated (cut short before
    // the first track), or Malformed (impossible header or division, no tracks, bytes that are
    // not events); Error::offset gives the byte where the fault was found.
    [[nodiscard]] static Result<MidiFile> parse(std::span<const std::uint8_t> data);
    // The same, for bytes the reader may let go of (emptying `data`) once the events are read.
    // With `cancel`, stops (failing with Io) soon after it becomes true.
    [[nodiscard]] static Result<MidiFile> parse(
        std::vector<std::uint8_t> &&data, const std::atomic<bool> *cancel = nullptr);
    // Reads the whole file, then parses it. Fails with Error::Code::FileNotFound or Io, or
    // Malformed for a file larger than kMaxBytes; the kind is decided by content, not name.
    // With `cancel`, stops (failing with Io) soon after it becomes true: a song no longer
    // wanted costs no more reading.
    [[nodiscard]] static Result<MidiFile> read(
        const std::filesystem::path &path, const std::atomic<bool> *cancel = nullptr);
    // Whether `data` starts like a MIDI song (an MThd chunk, or a RIFF RMID file), so a caller
    // can choose between the MIDI and wave readers by content. Looks at 12 bytes at most.
    static bool looksLikeMidi(std::span<const std::uint8_t> data);

    MidiKind kind() const { return m_kind; }
    int format() const { return m_format; } // 0, 1 or 2
    // The track chunks read (at most as many as the header declares; fewer if the file ends).
    int trackCount() const { return m_trackCount; }
    // Division: ticks per quarter note, or 0 when the file uses SMPTE time.
    std::uint16_t ticksPerQuarter() const { return m_ticksPerQuarter; }
    // SMPTE division: 24, 25, 29 (drop frame, 29.97) or 30; 0 for metrical time.
    int smpteFramesPerSecond() const { return m_smpteFramesPerSecond; }
    // SMPTE division: ticks per frame; 0 for metrical time.
    int ticksPerFrame() const { return m_ticksPerFrame; }

    std::span<const MidiEvent> events() const { return m_events; }
    // Payloads of sysex and meta events, each a 32-bit little-endian length and the bytes.
    std::span<const std::uint8_t> payload() const { return m_payload; }
    // The payload of one of this file's events (sysex: without the F0; empty for channel
    // messages).
    std::span<const std::uint8_t> payloadOf(const MidiEvent &event) const
    {
        if (event.isChannelMessage() || std::size_t { event.ref } + 4 > m_payload.size())
            return {};
        const std::uint8_t *at = m_payload.data() + event.ref;
        const std::uint32_t length = std::uint32_t { at[0] } | std::uint32_t { at[1] } << 8
            | std::uint32_t { at[2] } << 16 | std::uint32_t { at[3] } << 24;
        return payload().subspan(std::size_t { event.ref } + 4, length);
    }

    // The merged tempo changes of all tracks (format 2: in the order the tracks play).
    const TempoMap &tempoMap() const { return m_tempoMap; }
    // When `event` sounds, in microseconds from the start (floor of the exact value).
    std::int64_t timeUsOf(const MidiEvent &event) const
    {
        return m_tempoMap.tickToUs(event.tick());
    }
    // The sample frame at which `event` sounds at `sampleRate`, exact (no drift against audio).
    std::uint64_t frameOf(const MidiEvent &event, std::uint32_t sampleRate) const
    {
        return m_tempoMap.tickToFrame(event.tick(), sampleRate);
    }

    // Length in microseconds: time of the last event including End of Track, floor.
    std::int64_t lengthUs() const { return m_lengthUs; }
    // Length in milliseconds: time of the last event including End of Track, truncated.
    std::uint32_t lengthMs() const { return m_lengthMs; }

    // What the song says about itself: the first track's name as its title (format 0 and 1),
    // copyright, markers and lyrics with their times, read in the same pass as the events.
    const SongText &text() const { return m_text; }

    // An RMID file's own SoundFont 2 bank (a whole RIFF "sfbk" file), empty when it has none,
    // and the offset by which its bank numbers are moved up (its DBNK value, 1 when not given).
    std::span<const std::uint8_t> soundfontBank() const { return m_bank; }
    int bankOffset() const { return m_bankOffset; }

private:
    friend class MidiParser;

    MidiKind m_kind = MidiKind::Smf0;
    int m_format = 0;
    int m_trackCount = 0;
    std::uint16_t m_ticksPerQuarter = 0;
    int m_smpteFramesPerSecond = 0;
    int m_ticksPerFrame = 0;
    std::vector<MidiEvent> m_events;
    std::vector<std::uint8_t> m_payload;
    TempoMap m_tempoMap;
    std::int64_t m_lengthUs = 0;
    std::uint32_t m_lengthMs = 0;
    SongText m_text;
    std::vector<std::uint8_t> m_bank;
    int m_bankOffset = 1;
};

} // namespace tunedeck
