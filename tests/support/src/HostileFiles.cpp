#include "testsupport/HostileFiles.h"

#include "testsupport/MidiWriter.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>

namespace testsupport {

namespace {

void be32(Bytes &out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void le(Bytes &out, std::uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// Appends bytes one by one (GCC 12 misreads an insert of an initializer list as an overflow).
void put(Bytes &out, std::initializer_list<std::uint8_t> bytes)
{
    for (const std::uint8_t byte : bytes)
        out.push_back(byte);
}

void tag(Bytes &out, const char *text)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(text[i]));
}

// A header chunk for `format` with `tracks` tracks at 480 ticks per quarter note.
Bytes header(std::uint16_t format, std::uint16_t tracks)
{
    Bytes out;
    tag(out, "MThd");
    be32(out, 6);
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(format));
    out.push_back(static_cast<std::uint8_t>(tracks >> 8));
    out.push_back(static_cast<std::uint8_t>(tracks));
    out.push_back(480 >> 8);
    out.push_back(480 & 0xFF);
    return out;
}

void appendTrack(Bytes &out, const Bytes &body)
{
    tag(out, "MTrk");
    be32(out, static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

bool songOf(const std::filesystem::path &path, const TrackWriter &track)
{
    return writeFile(path, SmfWriter(0, 480).track(track).bytes());
}

} // namespace

bool writeBurstSong(const std::filesystem::path &path, std::uint32_t events)
{
    Bytes body;
    body.reserve(std::size_t { events } * 3 + 16);
    put(body, { 0x00, 0x90, 0x3C, 0x40 });
    for (std::uint32_t i = 1; i < events; ++i)
        put(body, { 0x00, 0x3C, static_cast<std::uint8_t>(i % 2 ? 0x00 : 0x40) });
    put(body, { 0x00, 0xFF, 0x2F, 0x00 });
    Bytes file = header(0, 1);
    appendTrack(file, body);
    return writeFile(path, file);
}

bool writeManyTracksSong(const std::filesystem::path &path, std::uint16_t tracks)
{
    const Bytes body { 0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00 };
    Bytes file = header(2, tracks);
    file.reserve(file.size() + std::size_t { tracks } * (body.size() + 8));
    for (std::uint32_t i = 0; i < tracks; ++i)
        appendTrack(file, body);
    return writeFile(path, file);
}

bool writeTempoFloodSong(const std::filesystem::path &path, std::uint32_t changes)
{
    Bytes body { 0x00, 0x90, 0x3C, 0x40 };
    body.reserve(std::size_t { changes } * 7 + 16);
    for (std::uint32_t i = 0; i < changes; ++i) {
        const std::uint32_t tempo = 250'000 + (i % 1000) * 500;
        put(body,
            { 0x01, 0xFF, 0x51, 0x03, static_cast<std::uint8_t>(tempo >> 16),
                static_cast<std::uint8_t>(tempo >> 8), static_cast<std::uint8_t>(tempo) });
    }
    put(body, { 0x00, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x2F, 0x00 });
    Bytes file = header(0, 1);
    appendTrack(file, body);
    return writeFile(path, file);
}

bool writeTempoZeroSong(const std::filesystem::path &path)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 100).noteOff(480, 0, 60).tempo(0, 0);
    track.noteOn(0, 0, 64, 100).noteOff(480, 0, 64).endOfTrack(0);
    return songOf(path, track);
}

bool writeLongestDeltaSong(const std::filesystem::path &path)
{
    TrackWriter track;
    track.noteOn(0, 0, 60, 100).noteOff(0x0FFFFFFF, 0, 60).endOfTrack(0);
    return songOf(path, track);
}

bool writeHugeSysexSong(const std::filesystem::path &path, std::uint32_t bytes)
{
    Bytes sysex(bytes, 0x11);
    sysex.front() = 0x7D; // non-commercial manufacturer: nobody acts on it
    sysex.back() = 0xF7;
    TrackWriter track;
    track.noteOn(0, 0, 60, 100).sysex(0, sysex).noteOff(480, 0, 60).endOfTrack(0);
    return songOf(path, track);
}

namespace {

Bytes waveHeader(std::uint32_t rate, std::uint16_t channels, std::uint64_t dataBytes)
{
    const std::uint32_t data32
        = static_cast<std::uint32_t>(std::min<std::uint64_t>(dataBytes, 0xFFFFFFFFu - 36));
    Bytes out;
    tag(out, "RIFF");
    le(out, 36 + std::uint64_t { data32 }, 4);
    tag(out, "WAVE");
    tag(out, "fmt ");
    le(out, 16, 4);
    le(out, 1, 2); // PCM
    le(out, channels, 2);
    le(out, rate, 4);
    le(out, std::uint64_t { rate } * channels * 2, 4);
    le(out, std::uint64_t { channels } * 2, 2);
    le(out, 16, 2);
    tag(out, "data");
    le(out, data32, 4);
    return out;
}

} // namespace

bool writeWave(const std::filesystem::path &path, std::uint32_t rate, std::uint16_t channels,
    std::uint64_t frames, std::uint64_t claimedFrames)
{
    const std::uint64_t frameBytes = std::uint64_t { channels } * 2;
    Bytes file = waveHeader(rate, channels, std::max(frames, claimedFrames) * frameBytes);
    file.reserve(file.size() + frames * frameBytes);
    for (std::uint64_t i = 0; i < frames; ++i) {
        const std::int16_t value = (i / 50) % 2 ? 3000 : -3000;
        for (std::uint16_t c = 0; c < channels; ++c)
            le(file, static_cast<std::uint16_t>(value), 2);
    }
    return writeFile(path, file);
}

bool writeSparseWave(const std::filesystem::path &path, std::uint64_t seconds)
{
    const std::uint64_t dataBytes = seconds * 44100 * 4;
    if (!writeFile(path, waveHeader(44100, 2, dataBytes)))
        return false;
    std::error_code error;
    std::filesystem::resize_file(path, 44 + dataBytes, error);
    return !error;
}

std::vector<HostileFile> writeHostileSet(const std::filesystem::path &dir)
{
    std::vector<HostileFile> set;
    bool ok = true;
    const auto add = [&](const std::string &name, const std::string &file, bool written) {
        ok = ok && written;
        set.push_back({ name, dir / file });
    };
    add("burst", "burst.mid", writeBurstSong(dir / "burst.mid", 10'000'000));
    add("tracks", "tracks.mid", writeManyTracksSong(dir / "tracks.mid", 65535));
    add("tempo flood", "tempos.mid", writeTempoFloodSong(dir / "tempos.mid", 1'000'000));
    add("tempo 0", "tempo0.mid", writeTempoZeroSong(dir / "tempo0.mid"));
    add("longest delta", "delta.mid", writeLongestDeltaSong(dir / "delta.mid"));
    add("1 MB sysex", "sysex.mid", writeHugeSysexSong(dir / "sysex.mid", 1u << 20));
    add("1 Hz", "rate1.wav", writeWave(dir / "rate1.wav", 1, 1, 8));
    add("100 Hz", "rate100.wav", writeWave(dir / "rate100.wav", 100, 2, 300));
    add("1 GHz", "rate1g.wav", writeWave(dir / "rate1g.wav", 1'000'000'000, 1, 100'000));
    add("192 kHz", "rate192k.wav", writeWave(dir / "rate192k.wav", 192'000, 2, 192'000));
    add("64 channels", "ch64.wav", writeWave(dir / "ch64.wav", 44'100, 64, 44'100));
    add("lying header", "short.wav", writeWave(dir / "short.wav", 44'100, 2, 4'410, 441'000));
    add("over 2 hours", "long.wav", writeSparseWave(dir / "long.wav", 2 * 3600 + 600));
    if (!ok)
        set.clear();
    return set;
}

} // namespace testsupport
