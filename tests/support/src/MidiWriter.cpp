#include "testsupport/MidiWriter.h"

#include <fstream>

namespace testsupport {

namespace {

void appendBe32(Bytes &out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendLe32(Bytes &out, std::uint32_t value)
{
    for (int shift = 0; shift <= 24; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void appendTag(Bytes &out, std::string_view tag)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(i < static_cast<int>(tag.size()) ? tag[i] : ' '));
}

void append(Bytes &out, std::span<const std::uint8_t> bytes)
{
    out.insert(out.end(), bytes.begin(), bytes.end());
}

std::uint8_t dataByte(int value)
{
    return static_cast<std::uint8_t>(value & 0x7F);
}

} // namespace

Bytes varLen(std::uint32_t value)
{
    Bytes reversed { static_cast<std::uint8_t>(value & 0x7F) };
    while (value >>= 7)
        reversed.push_back(static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    return Bytes(reversed.rbegin(), reversed.rend());
}

TrackWriter::TrackWriter(RunningStatus runningStatus)
    : m_runningStatus(runningStatus)
{ }

void TrackWriter::status(std::uint32_t delta, std::uint8_t status)
{
    append(m_bytes, varLen(delta));
    const bool channel = status >= 0x80 && status < 0xF0;
    if (!(channel && m_runningStatus == RunningStatus::On && status == m_lastStatus))
        m_bytes.push_back(status);
    // Sysex and meta events cancel running status, as the file format demands.
    m_lastStatus = channel ? status : 0;
}

TrackWriter &TrackWriter::channelMessage(
    std::uint32_t delta, std::uint8_t status, int data1, int data2)
{
    this->status(delta, status);
    m_bytes.push_back(dataByte(data1));
    const std::uint8_t kind = status & 0xF0;
    if (kind != 0xC0 && kind != 0xD0)
        m_bytes.push_back(dataByte(data2));
    return *this;
}

TrackWriter &TrackWriter::noteOn(std::uint32_t delta, int channel, int key, int velocity)
{
    return channelMessage(delta, static_cast<std::uint8_t>(0x90 | (channel & 0x0F)), key, velocity);
}

TrackWriter &TrackWriter::noteOff(std::uint32_t delta, int channel, int key, int velocity)
{
    return channelMessage(delta, static_cast<std::uint8_t>(0x80 | (channel & 0x0F)), key, velocity);
}

TrackWriter &TrackWriter::controller(std::uint32_t delta, int channel, int number, int value)
{
    return channelMessage(delta, static_cast<std::uint8_t>(0xB0 | (channel & 0x0F)), number, value);
}

TrackWriter &TrackWriter::program(std::uint32_t delta, int channel, int program)
{
    return channelMessage(delta, static_cast<std::uint8_t>(0xC0 | (channel & 0x0F)), program);
}

TrackWriter &TrackWriter::pitchBend(std::uint32_t delta, int channel, int value)
{
    return channelMessage(
        delta, static_cast<std::uint8_t>(0xE0 | (channel & 0x0F)), value & 0x7F, value >> 7);
}

TrackWriter &TrackWriter::meta(
    std::uint32_t delta, std::uint8_t type, std::span<const std::uint8_t> data)
{
    status(delta, 0xFF);
    m_bytes.push_back(type);
    append(m_bytes, varLen(static_cast<std::uint32_t>(data.size())));
    append(m_bytes, data);
    return *this;
}

TrackWriter &TrackWriter::tempo(std::uint32_t delta, std::uint32_t usPerQuarter)
{
    const std::uint8_t data[] = { static_cast<std::uint8_t>(usPerQuarter >> 16),
        static_cast<std::uint8_t>(usPerQuarter >> 8), static_cast<std::uint8_t>(usPerQuarter) };
    return meta(delta, 0x51, data);
}

TrackWriter &TrackWriter::text(std::uint32_t delta, std::uint8_t type, std::string_view text)
{
    const Bytes data(text.begin(), text.end());
    return meta(delta, type, data);
}

TrackWriter &TrackWriter::sysex(std::uint32_t delta, std::span<const std::uint8_t> data)
{
    status(delta, 0xF0);
    append(m_bytes, varLen(static_cast<std::uint32_t>(data.size())));
    append(m_bytes, data);
    return *this;
}

TrackWriter &TrackWriter::sysexEscape(std::uint32_t delta, std::span<const std::uint8_t> data)
{
    status(delta, 0xF7);
    append(m_bytes, varLen(static_cast<std::uint32_t>(data.size())));
    append(m_bytes, data);
    return *this;
}

TrackWriter &TrackWriter::endOfTrack(std::uint32_t delta)
{
    return meta(delta, 0x2F, {});
}

TrackWriter &TrackWriter::raw(std::span<const std::uint8_t> bytes)
{
    append(m_bytes, bytes);
    m_lastStatus = 0;
    return *this;
}

SmfWriter::SmfWriter(int format, std::uint16_t ticksPerQuarter)
    : m_format(format)
    , m_division(ticksPerQuarter)
{ }

SmfWriter SmfWriter::smpte(int format, int framesPerSecond, int ticksPerFrame)
{
    SmfWriter writer(format, 0);
    const auto high = static_cast<std::uint8_t>(-framesPerSecond);
    writer.m_division = static_cast<std::uint16_t>(high << 8 | (ticksPerFrame & 0xFF));
    return writer;
}

SmfWriter &SmfWriter::track(const TrackWriter &track)
{
    return trackWithLength(track, static_cast<std::uint32_t>(track.bytes().size()));
}

SmfWriter &SmfWriter::trackWithLength(const TrackWriter &track, std::uint32_t declaredLength)
{
    appendTag(m_chunks, "MTrk");
    appendBe32(m_chunks, declaredLength);
    append(m_chunks, track.bytes());
    ++m_trackChunks;
    return *this;
}

SmfWriter &SmfWriter::chunk(std::string_view id, std::span<const std::uint8_t> body)
{
    appendTag(m_chunks, id);
    appendBe32(m_chunks, static_cast<std::uint32_t>(body.size()));
    append(m_chunks, body);
    return *this;
}

SmfWriter &SmfWriter::headerExtra(std::span<const std::uint8_t> bytes)
{
    append(m_headerExtra, bytes);
    return *this;
}

SmfWriter &SmfWriter::declaredTracks(int count)
{
    m_declaredTracks = count;
    return *this;
}

SmfWriter &SmfWriter::division(std::uint16_t division)
{
    m_division = division;
    return *this;
}

Bytes SmfWriter::bytes() const
{
    Bytes out;
    appendTag(out, "MThd");
    appendBe32(out, static_cast<std::uint32_t>(6 + m_headerExtra.size()));
    const int tracks = m_declaredTracks >= 0 ? m_declaredTracks : m_trackChunks;
    for (const int word : { m_format, tracks, static_cast<int>(m_division) }) {
        out.push_back(static_cast<std::uint8_t>(word >> 8));
        out.push_back(static_cast<std::uint8_t>(word));
    }
    append(out, m_headerExtra);
    append(out, m_chunks);
    return out;
}

Bytes wrapRmi(std::span<const std::uint8_t> smf, std::string_view name,
    std::span<const std::uint8_t> display,
    std::initializer_list<std::pair<const char *, std::string_view>> tags)
{
    Bytes body;
    appendTag(body, "RMID");
    if (!name.empty() || tags.size() != 0) {
        Bytes info;
        appendTag(info, "INFO");
        const auto add = [&info](const char *tag, std::string_view value) {
            appendTag(info, tag);
            Bytes text(value.begin(), value.end());
            text.push_back(0);
            appendLe32(info, static_cast<std::uint32_t>(text.size()));
            append(info, text);
            if (text.size() & 1)
                info.push_back(0);
        };
        if (!name.empty())
            add("INAM", name);
        for (const auto &[tag, value] : tags)
            add(tag, value);
        appendTag(body, "LIST");
        appendLe32(body, static_cast<std::uint32_t>(info.size()));
        append(body, info);
    }
    if (!display.empty()) {
        appendTag(body, "DISP");
        appendLe32(body, static_cast<std::uint32_t>(display.size()));
        append(body, display);
        if (display.size() & 1)
            body.push_back(0);
    }
    appendTag(body, "data");
    appendLe32(body, static_cast<std::uint32_t>(smf.size()));
    append(body, smf);
    if (smf.size() & 1)
        body.push_back(0);

    Bytes out;
    appendTag(out, "RIFF");
    appendLe32(out, static_cast<std::uint32_t>(body.size()));
    append(out, body);
    return out;
}

bool writeFile(const std::filesystem::path &path, std::span<const std::uint8_t> bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(
        reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

} // namespace testsupport
