#include "tunedeck/MidiFile.h"
#include "tunedeck/FileKind.h"

#include "MidiText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace tunedeck {

namespace {

using Bytes = std::span<const std::uint8_t>;

// A delta time or length is at most four bytes of seven bits in a standard MIDI file.
constexpr int kMaxVarLenBytes = 4;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kSmfHeaderBodyBytes = 6;
constexpr std::size_t kRiffHeaderBytes = 12;
constexpr std::uint8_t kMetaTrackName = 0x03;

bool hasTag(Bytes data, std::size_t at, std::string_view tag)
{
    return at + tag.size() <= data.size()
        && std::memcmp(data.data() + at, tag.data(), tag.size()) == 0;
}

std::uint32_t be32(Bytes data, std::size_t at)
{
    return std::uint32_t { data[at] } << 24 | std::uint32_t { data[at + 1] } << 16
        | std::uint32_t { data[at + 2] } << 8 | data[at + 3];
}

std::uint16_t be16(Bytes data, std::size_t at)
{
    return static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
}

std::uint32_t le32(Bytes data, std::size_t at)
{
    return std::uint32_t { data[at + 3] } << 24 | std::uint32_t { data[at + 2] } << 16
        | std::uint32_t { data[at + 1] } << 8 | data[at];
}

std::string hexByte(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// A four-character chunk or form name for messages, with unprintable bytes shown as '?'.
std::string tagText(Bytes data, std::size_t at)
{
    std::string text;
    for (std::size_t i = at; i < at + 4 && i < data.size(); ++i)
        text += data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '?';
    return text;
}

Error fail(Error::Code code, std::string detail, std::size_t offset)
{
    return Error { code, std::move(detail), offset };
}

// Data bytes that follow a channel status: 1 for program change and channel pressure.
int channelDataBytes(std::uint8_t status)
{
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

} // namespace

// Builds one MidiFile from bytes; lives for one parse() call.
class MidiParser {
public:
    // `owned`, when given, holds `input` and is emptied once the events are read.
    // `karaokeName`: the file is named as a karaoke file (.kar), whose text events are its words
    // even without the karaoke header.
    explicit MidiParser(Bytes input, std::vector<std::uint8_t> *owned = nullptr,
        const std::atomic<bool> *cancel = nullptr, bool karaokeName = false)
        : m_input(input)
        , m_owned(owned)
        , m_cancel(cancel)
        , m_karaokeName(karaokeName)
    { }

    Result<MidiFile> run();

private:
    enum class VarLen { Ok, CutShort, TooLong };

    Result<void> parseRiff();
    Result<void> parseSmf(std::size_t begin, std::size_t end);
    Result<void> parseTrack(std::size_t begin, std::size_t end, std::uint16_t track);
    enum class Step { Next, EndTrack };
    Result<Step> readChannelData(
        MidiEvent &event, std::size_t &pos, std::size_t end, std::uint16_t track) const;
    Result<Step> readPayload(MidiEvent &event, std::size_t &pos, std::size_t end,
        std::size_t statusAt, std::uint16_t track);
    void keep(const MidiEvent &event, std::uint16_t track);
    void noteBank(std::uint64_t body, std::uint64_t end);
    void readInfo(std::uint64_t pos, std::uint64_t end);
    static std::string trackLabel(std::uint16_t track);
    VarLen readVarLen(std::size_t &pos, std::size_t end, std::uint32_t &value) const;
    void mergeRuns();
    void finish();

    Bytes m_input;
    std::vector<std::uint8_t> *m_owned;
    const std::atomic<bool> *m_cancel;
    bool m_karaokeName;
    std::size_t m_looked = 0; // events looked at, in both passes
    MidiFile m_file;
    // The first pass only counts events and payload bytes, so the second stores them without
    // ever growing a buffer; both passes meet the same faults.
    bool m_counting = true;
    std::size_t m_eventCount = 0;
    std::size_t m_payloadBytes = 0;
    // Where the next track starts on the tick line: 0, except in format 2 where tracks play
    // one after another.
    std::uint64_t m_trackStartTick = 0;
    std::uint64_t m_trackEndTick = 0;
    // Index of each track's first event: every track is a run already ordered by tick.
    std::vector<std::size_t> m_runStarts;
    // Where each track's payload starts in the song's payload: the track of a meta event.
    std::vector<std::uint32_t> m_trackPayloads;
    std::optional<MidiEvent> m_titleEvent;
    RiffInfo m_info;
    bool m_hasDls = false;
    bool m_bankCut = false; // a SoundFont bank the file ends inside of
};

Result<MidiFile> MidiParser::run()
{
    if (m_input.empty())
        return fail(Error::Code::NotMidi, "the file is empty", 0);
    if (m_input.size() > MidiFile::kMaxBytes)
        return fail(Error::Code::Malformed, "larger than any MIDI song can be", 0);

    if (!hasTag(m_input, 0, "RIFF") && !hasTag(m_input, 0, "MThd")) {
        // A file that stops inside the magic itself is a cut-off MIDI file, anything else is not.
        const auto prefixOf = [this](std::string_view magic) {
            return m_input.size() < magic.size()
                && std::memcmp(m_input.data(), magic.data(), m_input.size()) == 0;
        };
        if (prefixOf("MThd") || prefixOf("RIFF"))
            return fail(Error::Code::Truncated, "the file ends inside its header", 0);
        return fail(Error::Code::NotMidi, "no MThd header and no RIFF RMID wrapper", 0);
    }
    const auto parseAll
        = [this] { return hasTag(m_input, 0, "RIFF") ? parseRiff() : parseSmf(0, m_input.size()); };
    if (auto counted = parseAll(); !counted)
        return counted.error();
    m_counting = false;
    m_file = MidiFile();
    m_trackStartTick = m_trackEndTick = 0;
    m_runStarts.clear();
    m_trackPayloads.clear();
    m_titleEvent.reset();
    m_file.m_events.reserve(m_eventCount);
    m_file.m_payload.reserve(m_payloadBytes);
    if (auto parsed = parseAll(); !parsed)
        return parsed.error();
    if (m_owned) {
        m_input = {};
        std::vector<std::uint8_t>().swap(*m_owned);
    }
    finish();
    return std::move(m_file);
}

// RIFF "RMID": chunks of a four-byte name and a little-endian length, padded to even lengths;
// the "data" chunk holds a standard MIDI file. A SoundFont 2 bank may come with it (a RIFF
// "sfbk" chunk, its banks moved up by the INFO list's DBNK value, 1 when there is none); a DLS
// bank (RIFF "DLS ") is passed over. Other chunks are skipped.
Result<void> MidiParser::parseRiff()
{
    if (m_input.size() < kRiffHeaderBytes)
        return fail(Error::Code::Truncated, "the file ends inside its RIFF header", 0);
    if (!hasTag(m_input, 8, "RMID")) {
        return fail(Error::Code::NotMidi,
            "a RIFF file of form '" + tagText(m_input, 8) + "', not an RMID song", 8);
    }
    // The RIFF length is often wrong in the wild; the chunks themselves are followed instead.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> data;
    std::uint64_t pos = kRiffHeaderBytes;
    while (pos + kChunkHeaderBytes <= m_input.size()) {
        const std::uint32_t length = le32(m_input, pos + 4);
        const std::uint64_t body = pos + kChunkHeaderBytes;
        const std::uint64_t end = std::min<std::uint64_t>(body + length, m_input.size());
        if (hasTag(m_input, pos, "data") && !data) {
            if (!hasTag(m_input, body, "MThd")) {
                return fail(Error::Code::NotMidi,
                    "the RMID data chunk does not hold a standard MIDI file", body);
            }
            data.emplace(body, end);
        } else if (hasTag(m_input, pos, "RIFF")) {
            noteBank(body, end);
        } else if (hasTag(m_input, pos, "LIST") && hasTag(m_input, body, "INFO")) {
            readInfo(body + 4, end);
        }
        pos = body + length + (length & 1);
    }
    if (!data) {
        return fail(Error::Code::Truncated, "the RMID file holds no data chunk",
            std::min<std::uint64_t>(pos, m_input.size()));
    }
    m_file.m_kind = MidiKind::Rmi;
    return parseSmf(data->first, data->second);
}

// An RMID file's own sound bank: a SoundFont 2 bank is kept (once the events are counted), a
// DLS bank only noted.
void MidiParser::noteBank(std::uint64_t body, std::uint64_t end)
{
    if (hasTag(m_input, body, "sfbk") && m_file.m_bank.empty() && !m_counting) {
        // The bank is a RIFF file of its own, from its "RIFF" header on. One that the file ends
        // inside of (a download cut short) is no bank to load.
        const std::uint64_t declared = body + le32(m_input, body - 4);
        if (declared > m_input.size()) {
            m_bankCut = true;
            return;
        }
        const auto from = m_input.begin() + std::ptrdiff_t(body - kChunkHeaderBytes);
        m_file.m_bank.assign(from, m_input.begin() + std::ptrdiff_t(end));
    } else if (hasTag(m_input, body, "DLS ")) {
        m_hasDls = true;
    }
}

// An RMID INFO list: the bank offset of the file's own soundfont (DBNK, 0 to 127), and the
// song's name, artist and copyright (INAM, IART, ICOP).
void MidiParser::readInfo(std::uint64_t pos, std::uint64_t end)
{
    while (pos + kChunkHeaderBytes <= end) {
        const std::uint32_t length = le32(m_input, pos + 4);
        const std::size_t at = pos + kChunkHeaderBytes;
        if (hasTag(m_input, pos, "DBNK") && length >= 2 && at + 2 <= end) {
            const int offset = m_input[at] | m_input[at + 1] << 8;
            m_file.m_bankOffset = offset <= 127 ? offset : 1;
        }
        for (auto [tag, text] : { std::pair { "INAM", &m_info.title }, { "IART", &m_info.artist },
                 { "ICOP", &m_info.copyright } }) {
            if (hasTag(m_input, pos, tag)) {
                const auto bytes = m_input.subspan(at, std::min<std::uint64_t>(length, end - at));
                text->assign(bytes.begin(), bytes.end());
            }
        }
        pos += kChunkHeaderBytes + std::uint64_t { length } + (length & 1);
    }
}

Result<void> MidiParser::parseSmf(std::size_t begin, std::size_t end)
{
    const Bytes smf = m_input.first(end);
    if (begin + kChunkHeaderBytes + kSmfHeaderBodyBytes > end)
        return fail(Error::Code::Truncated, "the file ends inside its MThd header", begin);
    const std::uint32_t headerLength = be32(smf, begin + 4);
    if (headerLength < kSmfHeaderBodyBytes) {
        return fail(Error::Code::Malformed,
            "the MThd header is " + std::to_string(headerLength) + " bytes long, not 6", begin + 4);
    }
    const std::size_t header = begin + kChunkHeaderBytes;
    const std::uint16_t format = be16(smf, header);
    const std::uint16_t declaredTracks = be16(smf, header + 2);
    const std::uint16_t division = be16(smf, header + 4);

    if (format > 2) {
        return fail(Error::Code::Malformed,
            "format " + std::to_string(format) + " is not 0, 1 or 2", header);
    }
    if (declaredTracks == 0)
        return fail(Error::Code::Malformed, "the header declares no tracks", header + 2);
    if (format == 0 && declaredTracks != 1) {
        return fail(Error::Code::Malformed,
            "format 0 holds one track, not " + std::to_string(declaredTracks), header + 2);
    }
    if (division & 0x8000) {
        // SMPTE: the high byte is minus the frame rate, the low byte the ticks per frame.
        const int framesPerSecond = -static_cast<int>(static_cast<std::int8_t>(division >> 8));
        const int ticksPerFrame = division & 0xFF;
        if (framesPerSecond != 24 && framesPerSecond != 25 && framesPerSecond != 29
            && framesPerSecond != 30) {
            return fail(Error::Code::Malformed,
                "SMPTE division of " + std::to_string(framesPerSecond) + " frames per second",
                header + 4);
        }
        if (ticksPerFrame == 0)
            return fail(Error::Code::Malformed, "SMPTE division of 0 ticks per frame", header + 4);
        m_file.m_smpteFramesPerSecond = framesPerSecond;
        m_file.m_ticksPerFrame = ticksPerFrame;
    } else {
        if (division == 0)
            return fail(Error::Code::Malformed, "division of 0 ticks per quarter note", header + 4);
        m_file.m_ticksPerQuarter = division;
    }
    m_file.m_format = format;
    if (m_file.m_kind != MidiKind::Rmi)
        m_file.m_kind = format == 0 ? MidiKind::Smf0
            : format == 1           ? MidiKind::Smf1
                                    : MidiKind::Smf2;

    // Header bytes beyond the six known ones are skipped; unknown chunks too. A chunk that runs
    // past the end keeps what is there, and then nothing follows it.
    std::uint64_t pos = std::uint64_t { header } + headerLength;
    int tracks = 0;
    while (tracks < declaredTracks && pos + kChunkHeaderBytes <= end) {
        const std::uint32_t length = be32(smf, pos + 4);
        const std::uint64_t body = pos + kChunkHeaderBytes;
        if (hasTag(smf, pos, "MTrk")) {
            if (!m_counting) {
                m_runStarts.push_back(m_file.m_events.size());
                m_trackPayloads.push_back(static_cast<std::uint32_t>(m_file.m_payload.size()));
            }
            const std::size_t bodyEnd = std::min<std::uint64_t>(body + length, end);
            if (auto result = parseTrack(body, bodyEnd, static_cast<std::uint16_t>(tracks));
                !result)
                return result;
            ++tracks;
            if (format == 2)
                m_trackStartTick = m_trackEndTick;
        }
        pos = body + length;
    }
    if (tracks == 0)
        return fail(Error::Code::Truncated, "no track chunk follows the header",
            std::min<std::uint64_t>(pos, end));
    m_file.m_trackCount = tracks;
    return {};
}

MidiParser::VarLen MidiParser::readVarLen(
    std::size_t &pos, std::size_t end, std::uint32_t &value) const
{
    value = 0;
    for (int i = 0; i < kMaxVarLenBytes; ++i) {
        if (pos >= end)
            return VarLen::CutShort;
        const std::uint8_t byte = m_input[pos++];
        value = value << 7 | (byte & 0x7F);
        if (!(byte & 0x80))
            return VarLen::Ok;
    }
    return VarLen::TooLong;
}

// Reads one MTrk body. Running status carries across meta and sysex events (many files rely
// on it, and a data byte there has no other meaning). An event cut off by the end of the chunk
// ends the track, keeping everything before it.
Result<void> MidiParser::parseTrack(std::size_t begin, std::size_t end, std::uint16_t track)
{
    std::uint8_t runningStatus = 0;
    std::uint64_t tick = m_trackStartTick;
    std::size_t pos = begin;
    m_trackEndTick = tick;

    while (pos < end) {
        const std::size_t eventStart = pos;
        std::uint32_t delta = 0;
        if (const VarLen read = readVarLen(pos, end, delta); read != VarLen::Ok) {
            if (read == VarLen::CutShort)
                break;
            return fail(Error::Code::Malformed,
                trackLabel(track) + "a delta time longer than four bytes", eventStart);
        }
        if (pos >= end)
            break;

        MidiEvent event;
        event.setTick(tick + delta);
        const std::size_t statusAt = pos;
        if (m_input[pos] & 0x80) {
            event.status = m_input[pos++];
        } else if (runningStatus) {
            event.status = runningStatus;
        } else {
            return fail(Error::Code::Malformed,
                trackLabel(track) + "data byte " + hexByte(m_input[pos])
                    + " where an event should start",
                statusAt);
        }

        Result<Step> step = Step::EndTrack;
        if (event.isChannelMessage()) {
            step = readChannelData(event, pos, end, track);
            runningStatus = event.status;
        } else if (event.isMeta() || event.isSysex()) {
            step = readPayload(event, pos, end, statusAt, track);
        } else {
            return fail(Error::Code::Malformed,
                trackLabel(track) + "status byte " + hexByte(event.status)
                    + " is not a MIDI file event",
                statusAt);
        }
        if (!step)
            return step.error();
        if (step.value() == Step::EndTrack)
            break;

        tick = event.tick();
        m_trackEndTick = tick;
        if (m_cancel && (++m_looked & 0xFFFF) == 0 && m_cancel->load(std::memory_order_relaxed))
            return fail(Error::Code::Io, "reading was given up", eventStart);
        keep(event, track);
        if (event.isMeta() && event.metaType == kMetaEndOfTrack)
            break;
    }
    return {};
}

// The one or two data bytes of a channel message.
Result<MidiParser::Step> MidiParser::readChannelData(
    MidiEvent &event, std::size_t &pos, std::size_t end, std::uint16_t track) const
{
    const int count = channelDataBytes(event.status);
    if (end - pos < static_cast<std::size_t>(count))
        return Step::EndTrack;
    for (int i = 0; i < count; ++i) {
        if (m_input[pos + i] & 0x80) {
            return fail(Error::Code::Malformed,
                trackLabel(track) + "status byte " + hexByte(m_input[pos + i])
                    + " inside a channel message",
                pos + i);
        }
    }
    event.ref = m_input[pos] | (count == 2 ? std::uint32_t { m_input[pos + 1] } << 8 : 0u);
    pos += count;
    return Step::Next;
}

// A meta event's type, then (meta and sysex) the length and the bytes, copied to the payload.
Result<MidiParser::Step> MidiParser::readPayload(
    MidiEvent &event, std::size_t &pos, std::size_t end, std::size_t statusAt, std::uint16_t track)
{
    if (event.isMeta()) {
        if (pos >= end)
            return Step::EndTrack;
        event.metaType = m_input[pos++];
    }
    std::uint32_t length = 0;
    if (const VarLen read = readVarLen(pos, end, length); read != VarLen::Ok) {
        if (read == VarLen::CutShort)
            return Step::EndTrack;
        return fail(Error::Code::Malformed,
            trackLabel(track) + "an event length longer than four bytes", statusAt);
    }
    // A length running past the chunk is a cut-off event: nothing is copied for it.
    if (length > end - pos)
        return Step::EndTrack;
    auto &payload = m_file.m_payload;
    if (m_counting) {
        m_payloadBytes += 4 + std::size_t { length };
    } else {
        event.ref = static_cast<std::uint32_t>(payload.size());
        for (int shift = 0; shift < 32; shift += 8)
            payload.push_back(static_cast<std::uint8_t>(length >> shift));
        payload.insert(payload.end(), m_input.begin() + pos, m_input.begin() + pos + length);
    }
    pos += length;
    return Step::Next;
}

// Counts or stores one event; the first track's first name is the song's title.
void MidiParser::keep(const MidiEvent &event, std::uint16_t track)
{
    if (m_counting) {
        ++m_eventCount;
        return;
    }
    m_file.m_events.push_back(event);
    if (track == 0 && !m_titleEvent && m_file.m_format != 2 && event.isMeta()
        && event.metaType == kMetaTrackName)
        m_titleEvent = event;
}

std::string MidiParser::trackLabel(std::uint16_t track)
{
    return "track " + std::to_string(track + 1) + ": ";
}

// Merges neighbouring runs in place, pairwise, until one is left: O(n log tracks), and stable,
// so ties keep track, then file order. Each merge borrows a buffer the size of its shorter run
// at most, never a second copy of the whole song.
void MidiParser::mergeRuns()
{
    auto &events = m_file.m_events;
    std::vector<std::size_t> bounds = m_runStarts;
    bounds.push_back(events.size());
    const auto byTick = [](const MidiEvent &a, const MidiEvent &b) { return a.tick() < b.tick(); };
    while (bounds.size() > 2) {
        std::vector<std::size_t> next { 0 };
        for (std::size_t i = 0; i + 1 < bounds.size(); i += 2) {
            if (i + 2 < bounds.size()) {
                const auto at = [&](std::size_t k) {
                    return events.begin() + static_cast<std::ptrdiff_t>(bounds[k]);
                };
                std::inplace_merge(at(i), at(i + 1), at(i + 2), byTick);
                next.push_back(bounds[i + 2]);
            } else {
                next.push_back(bounds[i + 1]); // an odd run waits for the next pass
            }
        }
        bounds = std::move(next);
    }
}

// Orders the events by time, builds the tempo map from them and gives each its time.
void MidiParser::finish()
{
    auto &events = m_file.m_events;
    const auto byTick = [](const MidiEvent &a, const MidiEvent &b) { return a.tick() < b.tick(); };
    if (!std::is_sorted(events.begin(), events.end(), byTick))
        mergeRuns();

    if (m_file.m_smpteFramesPerSecond != 0) {
        m_file.m_tempoMap = TempoMap::smpte(m_file.m_smpteFramesPerSecond, m_file.m_ticksPerFrame);
    } else {
        std::vector<TempoChange> changes;
        for (const MidiEvent &event : events) {
            // A Set Tempo shorter than its three bytes says nothing; one of 0 µs per quarter would
            // stop time, and players ignore it: the tempo before it holds. Both stay in the list
            // of events only.
            const auto bytes = m_file.payloadOf(event);
            if (event.isMeta() && event.metaType == kMetaSetTempo && bytes.size() >= 3) {
                const std::uint32_t usPerQuarter
                    = std::uint32_t { bytes[0] } << 16 | std::uint32_t { bytes[1] } << 8 | bytes[2];
                if (usPerQuarter != 0)
                    changes.push_back({ event.tick(), usPerQuarter });
            }
        }
        m_file.m_tempoMap = TempoMap(m_file.m_ticksPerQuarter, changes);
    }

    if (!events.empty()) {
        m_file.m_lengthUs = m_file.m_tempoMap.tickToUs(events.back().tick());
        m_file.m_lengthMs = m_file.m_tempoMap.tickToMs(events.back().tick());
    }
    m_file.m_text = readMidiText(
        m_file, m_titleEvent ? &*m_titleEvent : nullptr, m_trackPayloads, m_karaokeName, m_info);
    if (!m_file.m_bank.empty()) {
        m_file.m_text.note = "plays with its own SoundFont bank (bank offset "
            + std::to_string(m_file.m_bankOffset) + ") over the default soundfont";
    } else if (m_bankCut) {
        m_file.m_text.note
            = "its own SoundFont bank is cut short; it plays with the default soundfont";
    } else if (m_hasDls) {
        m_file.m_text.note = "its own DLS bank cannot be used; it plays with the default soundfont";
    }
}

Result<MidiFile> MidiFile::parse(std::span<const std::uint8_t> data)
{
    return MidiParser(data).run();
}

Result<MidiFile> MidiFile::parse(std::vector<std::uint8_t> &&data, const std::atomic<bool> *cancel)
{
    return MidiParser(data, &data, cancel).run();
}

Result<MidiFile> MidiFile::read(const std::filesystem::path &path, const std::atomic<bool> *cancel)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status))
        return fail(Error::Code::FileNotFound, path.string() + ": no such file", 0);
    if (std::filesystem::is_directory(status))
        return fail(Error::Code::Io, path.string() + " is a folder", 0);

    std::ifstream in(path, std::ios::binary);
    if (!in)
        return fail(Error::Code::Io, path.string() + " cannot be opened", 0);
    // Read at most one byte more than the limit, so an oversized file is refused without being
    // read whole (its size as listed may be wrong for special files).
    std::vector<std::uint8_t> bytes;
    std::size_t got = 0;
    constexpr std::size_t kBlockBytes = 64 * 1024;
    // Room for the whole file as listed, so reading it never copies what is already read; a
    // file listed as larger than the limit is refused without reading it.
    const auto listed = std::filesystem::file_size(path, error);
    if (!error && listed > kMaxBytes)
        return fail(Error::Code::Malformed, "larger than any MIDI song can be", 0);
    bytes.reserve(std::min<std::uintmax_t>(error ? 0 : listed, kMaxBytes + 1) + kBlockBytes);
    while (in && got <= kMaxBytes) {
        if (cancel && cancel->load(std::memory_order_relaxed))
            return fail(Error::Code::Io, "reading was given up", got);
        bytes.resize(got + kBlockBytes);
        in.read(reinterpret_cast<char *>(bytes.data() + got), kBlockBytes);
        got += static_cast<std::size_t>(in.gcount());
    }
    if (in.bad())
        return fail(Error::Code::Io, path.string() + " cannot be read", got);
    bytes.resize(got);
    if (got > kMaxBytes)
        return fail(Error::Code::Malformed, "larger than any MIDI song can be", 0);
    return MidiParser(bytes, &bytes, cancel, lowerExtension(path) == ".kar").run();
}

bool MidiFile::looksLikeMidi(std::span<const std::uint8_t> data)
{
    return hasTag(data, 0, "MThd") || (hasTag(data, 0, "RIFF") && hasTag(data, 8, "RMID"));
}

} // namespace tunedeck
