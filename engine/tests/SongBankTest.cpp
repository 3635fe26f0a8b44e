// An RMID song that carries its own SoundFont bank plays with it over the default soundfont,
// for that song only; a DLS bank is passed over with a note.
#include "DeviceTestSupport.h"

#include "tunedeck/Device.h"
#include "tunedeck/MidiFile.h"

#include "testsupport/MidiWriter.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;
using devicetest::fileBytes;
using devicetest::peak;
using devicetest::renderToEnd;
using testsupport::Bytes;

namespace {

constexpr const char *kSmall = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr const char *kLarge = "/usr/share/sounds/sf2/FluidR3_GM.sf2";

void appendChunk(Bytes &out, std::string_view id, const Bytes &body)
{
    out.insert(out.end(), id.begin(), id.end());
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(std::uint8_t(body.size() >> shift));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1)
        out.push_back(0);
}

// `smf` in an RMID file, followed by an INFO list with the bank offset and `bank` (a whole RIFF
// file, SoundFont or DLS) as a chunk of its own.
Bytes rmiWithBank(const Bytes &smf, const Bytes &bank, int bankOffset)
{
    Bytes rmi = testsupport::wrapRmi(smf, "");
    Bytes info { 'I', 'N', 'F', 'O' };
    appendChunk(info, "DBNK", Bytes { std::uint8_t(bankOffset), 0 });
    appendChunk(rmi, "LIST", info);
    rmi.insert(rmi.end(), bank.begin(), bank.end());
    if (bank.size() & 1)
        rmi.push_back(0);
    const std::uint32_t riff = std::uint32_t(rmi.size() - 8);
    for (int i = 0; i < 4; ++i)
        rmi[4 + i] = std::uint8_t(riff >> (8 * i));
    return rmi;
}

std::vector<float> render(const fs::path &song, const char *soundfont, bool readAhead = false)
{
    ::setenv("TUNEDECK_SOUNDFONT", soundfont, 1);
    tunedeck::Device device(nullptr, tunedeck::OutputMode::Offline);
    if (readAhead)
        device.prefetch(song);
    EXPECT_TRUE(device.open(song).ok()) << song;
    std::vector<float> sound;
    renderToEnd(device, &sound, 10 * 44100);
    return sound;
}

// `song` played on the output with `soundfont` (a song over a megabyte is read while it opens,
// not before).
devicetest::Played playOnTheOutput(const fs::path &song, const char *soundfont, const fs::path &raw)
{
    ::setenv("TUNEDECK_SOUNDFONT", soundfont, 1);
    return devicetest::playOnTheOutput(song, raw);
}

// A folder of its own for the songs, and a song of a melodic note and a drum stroke.
class SongBank : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(folder); }
    void TearDown() override
    {
        ::unsetenv("TUNEDECK_SOUNDFONT");
        fs::remove_all(folder);
    }

    const fs::path folder
        = fs::temp_directory_path() / ("tunedeck-songbank-" + std::to_string(::getpid()));
    const Bytes smf = [] {
        testsupport::TrackWriter track;
        track.text(0, 5, "la").program(0, 0, 19).noteOn(0, 0, 60, 100).noteOn(0, 9, 38, 100);
        track.noteOff(480, 0, 60).noteOff(0, 9, 38).endOfTrack(240);
        return testsupport::SmfWriter(0, 480).track(track).bytes();
    }();
};

} // namespace

TEST_F(SongBank, RmiPlaysWithItsOwnSoundfontOverTheDefault)
{
    if (!fs::exists(kSmall) || !fs::exists(kLarge))
        GTEST_SKIP() << "needs " << kSmall << " and " << kLarge;
    const Bytes bank = fileBytes(kSmall);
    const fs::path plain = folder / "plain.mid";
    const fs::path own = folder / "own.rmi";
    ASSERT_TRUE(testsupport::writeFile(plain, smf));
    ASSERT_TRUE(testsupport::writeFile(own, rmiWithBank(smf, bank, 0)));

    const auto probed = tunedeck::Device::probe(own);
    ASSERT_TRUE(probed.ok());
    EXPECT_EQ(probed.value().text.note,
        "plays with its own SoundFont bank (bank offset 0) over the default soundfont");

    const auto withSmall = render(plain, kSmall);
    const auto withLarge = render(plain, kLarge);
    ASSERT_GT(peak(withSmall), 0.01f);
    ASSERT_NE(withSmall, withLarge); // the two fonts sound apart
    EXPECT_EQ(render(own, kLarge), withSmall);

    // Banks that are not used, and say so: a DLS bank, and a SoundFont bank the file ends
    // inside of (a download cut short).
    const struct {
        const char *name;
        Bytes bank;
        const char *note;
    } unused[] = {
        { "dls.rmi", { 'R', 'I', 'F', 'F', 4, 0, 0, 0, 'D', 'L', 'S', ' ' },
            "its own DLS bank cannot be used; it plays with the default soundfont" },
        { "cut.rmi", Bytes(bank.begin(), bank.begin() + std::ptrdiff_t(bank.size() / 2)),
            "its own SoundFont bank is cut short; it plays with the default soundfont" },
    };
    for (const auto &song : unused) {
        SCOPED_TRACE(song.name);
        ASSERT_TRUE(testsupport::writeFile(folder / song.name, rmiWithBank(smf, song.bank, 0)));
        const auto parsed = tunedeck::MidiFile::read(folder / song.name);
        ASSERT_TRUE(parsed.ok());
        EXPECT_TRUE(parsed.value().soundfontBank().empty());
        EXPECT_EQ(parsed.value().text().note, song.note);
        EXPECT_EQ(render(folder / song.name, kLarge), withLarge);
    }
}

// A song read ahead plays on the synthesiser made ready for it, unless it brings its own bank:
// then on the device's, where that bank was added; and a song large enough to be read while it
// opens adds its bank there too, and tells of it once read. Here the bank is the default font
// with every sample silenced (over a megabyte), so only the bank's song is silent.
TEST_F(SongBank, OwnBankIsUsedWhenTheSongWasReadAheadOrWhileItOpens)
{
    if (!fs::exists(kSmall))
        GTEST_SKIP() << "needs " << kSmall;
    Bytes silent = fileBytes(kSmall);
    const std::string_view tag = "smpl";
    const auto samples = std::search(silent.begin(), silent.end(), tag.begin(), tag.end());
    ASSERT_GT(silent.end() - samples, 8);
    const std::size_t size = samples[4] | samples[5] << 8 | samples[6] << 16 | samples[7] << 24;
    ASSERT_LE(size, std::size_t(silent.end() - samples - 8));
    std::fill_n(samples + 8, size, 0);

    const fs::path plain = folder / "plain.mid";
    const fs::path own = folder / "own.rmi";
    ASSERT_TRUE(testsupport::writeFile(plain, smf));
    ASSERT_TRUE(testsupport::writeFile(own, rmiWithBank(smf, silent, 0)));
    for (const bool readAhead : { false, true }) {
        SCOPED_TRACE(readAhead ? "read ahead" : "not read ahead");
        EXPECT_GT(peak(render(plain, kSmall, readAhead)), 0.01f);
        EXPECT_LT(peak(render(own, kSmall, readAhead)), 1e-4f);
    }

    ASSERT_GT(fs::file_size(own), 1u << 20);
    const devicetest::Played plainPlayed = playOnTheOutput(plain, kSmall, folder / "plain.raw");
    if (plainPlayed.sound.empty())
        GTEST_SKIP() << "SDL's disk audio driver wrote no sound here";
    EXPECT_GT(peak(plainPlayed.sound), 0.01f);
    const devicetest::Played ownPlayed = playOnTheOutput(own, kSmall, folder / "own.raw");
    EXPECT_GT(ownPlayed.sound.size(), 44100u);
    EXPECT_LT(peak(ownPlayed.sound), 1e-4f);
    EXPECT_EQ(ownPlayed.text.lyrics.size(), 1u);
    EXPECT_EQ(ownPlayed.text.note,
        "plays with its own SoundFont bank (bank offset 0) over the default soundfont");
}

// Allocations counted on a thread while it asks (the allocator's entry points, wrapped; the
// sanitizers wrap them themselves).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SANITIZED_BUILD 1
#endif
#endif
#ifndef SANITIZED_BUILD
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void *malloc(std::size_t size)
{
    t_allocations += t_counting ? 1 : 0;
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size)
{
    t_allocations += t_counting ? 1 : 0;
    return __libc_calloc(count, size);
}
void *realloc(void *block, std::size_t size)
{
    t_allocations += t_counting ? 1 : 0;
    return __libc_realloc(block, size);
}
}
#endif

// The bank's presets a song chooses are held from the open on, whatever the bank's offset (1
// when the file gives none; the song selects them by it), as the default font's are: playing
// and playing again allocate nothing (on the render thread, which must not).
TEST_F(SongBank, OwnBanksPresetsAreHeldBeforeTheSongPlays)
{
    if (!fs::exists(kSmall))
        GTEST_SKIP() << "needs " << kSmall;
#ifdef SANITIZED_BUILD
    GTEST_SKIP() << "the sanitizers count allocations their own way";
#else
    ::setenv("TUNEDECK_SOUNDFONT", kSmall, 1);
    const auto allocationsWhilePlaying = [](const fs::path &song) {
        tunedeck::Device device(nullptr, tunedeck::OutputMode::Offline);
        EXPECT_TRUE(device.open(song).ok());
        std::vector<float> block(2 * 512);
        float loudest = 0.0f;
        std::vector<long> counts;
        for (int pass = 0; pass < 2; ++pass) {
            EXPECT_TRUE(device.seekMs(0));
            device.play();
            t_allocations = 0;
            t_counting = true;
            for (int i = 0; i < 200 && device.isPlaying(); ++i) {
                device.pump(block);
                loudest = std::max(loudest, peak(block));
            }
            t_counting = false;
            counts.push_back(t_allocations);
        }
        EXPECT_GT(loudest, 0.01f);
        return counts;
    };
    // The first block a thread renders sets up FluidSynth's OpenMP runtime for it, once.
    ASSERT_TRUE(testsupport::writeFile(folder / "first.mid", smf));
    allocationsWhilePlaying(folder / "first.mid");
    for (const int offset : { 0, 1, 2 }) {
        SCOPED_TRACE(offset);
        testsupport::TrackWriter track;
        track.controller(0, 0, 0, offset).program(0, 0, 19).noteOn(0, 0, 60, 100);
        track.noteOff(480, 0, 60).endOfTrack(0);
        const auto bytes = testsupport::SmfWriter(0, 480).track(track).bytes();
        const fs::path own = folder / "own.rmi";
        ASSERT_TRUE(testsupport::writeFile(own, rmiWithBank(bytes, fileBytes(kSmall), offset)));
        EXPECT_EQ(allocationsWhilePlaying(own), (std::vector<long> { 0, 0 }));
    }
#endif
}
