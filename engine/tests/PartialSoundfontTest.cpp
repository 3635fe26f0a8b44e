// Soundfonts loaded with only the presets a song chooses: the song sounds as with the whole font,
// presets never chosen cost no memory, and broken preset parts are refused. Synthesisers made at
// once are each set up whole.

#include "SoundfontPresets.h"
#include "tunedeck/MidiFile.h"
#include "tunedeck/Synth.h"

#include "testsupport/MidiWriter.h"
#include "testsupport/ScratchDir.h"
#include "testsupport/SoundfontWriter.h"

#include <dlfcn.h>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <semaphore>
#include <thread>
#include <vector>

using testsupport::SmfWriter;
using testsupport::SoundfontWriter;
using testsupport::TrackWriter;
using tunedeck::SoundfontPresets;

namespace {

constexpr int kRate = 44100;

// FluidSynth calls rand() as it sets itself up for the process, before it sets its default
// modulators. While held, the first call waits there until let go (or for a second).
std::atomic<bool> g_randCalled { false };
std::atomic<bool> g_holdRand { false };
std::binary_semaphore g_randEntered { 0 };
std::binary_semaphore g_randReleased { 0 };

} // namespace

extern "C" int rand() noexcept
{
    g_randCalled = true;
    if (g_holdRand.exchange(false)) {
        g_randEntered.release();
        static_cast<void>(g_randReleased.try_acquire_for(std::chrono::seconds(1)));
    }
    static const auto next = reinterpret_cast<int (*)()>(dlsym(RTLD_NEXT, "rand"));
    return next();
}

namespace {

// A synthesiser made the plain way with the same settings, every soundfont loaded whole (FluidSynth
// sounds slightly different when it reads all samples with the font, so it reads them on use).
struct PlainSynth {
    explicit PlainSynth(bool load = true)
    {
        fluid_settings_setnum(settings, "synth.sample-rate", kRate);
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
        synth = new_fluid_synth(settings);
        const auto fonts = tunedeck::findSoundfonts().value();
        for (auto font = fonts.rbegin(); load && font != fonts.rend(); ++font)
            fluid_synth_sfload(synth, font->c_str(), 1);
    }
    ~PlainSynth()
    {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
    }
    fluid_settings_t *settings = new_fluid_settings();
    fluid_synth_t *synth = nullptr;
};

// Plays `song`'s notes (those off channel 10 moved by `transpose` semitones), controllers and
// programs into `synth` at their frames; returns `frames` interleaved stereo frames.
std::vector<float> play(
    const tunedeck::MidiFile &song, fluid_synth_t *synth, std::size_t frames, int transpose = 0)
{
    std::vector<float> out(2 * frames);
    std::size_t done = 0;
    const auto until = [&](std::size_t frame) {
        frame = std::min(frame, frames);
        float *at = out.data() + 2 * done;
        fluid_synth_write_float(synth, int(frame - done), at, 0, 2, at, 1, 2);
        done = frame;
    };
    for (const tunedeck::MidiEvent &event : song.events()) {
        until(song.frameOf(event, kRate));
        const int channel = event.status & 0x0F, type = event.status & 0xF0;
        const int key = event.data1() + (channel == 9 ? 0 : transpose);
        if (type == 0x90)
            fluid_synth_noteon(synth, channel, key, event.data2());
        else if (type == 0x80)
            fluid_synth_noteoff(synth, channel, key);
        else if (type == 0xB0)
            fluid_synth_cc(synth, channel, event.data1(), event.data2());
        else if (type == 0xC0)
            fluid_synth_program_change(synth, channel, event.data1());
    }
    until(frames);
    return out;
}

// Plays `song` from a Synth preloaded with it and from the whole font, moved by each of
// `transposes`: every sample must be the same, and the song heard. Returns the Synth, preloaded
// for `onlyKeyShift` when given.
std::unique_ptr<tunedeck::Synth> expectSoundsAsWhole(const TrackWriter &track,
    std::initializer_list<int> transposes, std::optional<int> onlyKeyShift = std::nullopt)
{
    const auto song = tunedeck::MidiFile::parse(SmfWriter(0, 480).track(track).bytes());
    EXPECT_TRUE(song.ok());
    constexpr std::size_t kFrames = kRate * 3 / 2;
    auto made = tunedeck::Synth::create(kRate);
    EXPECT_TRUE(made.ok());
    if (!song.ok() || !made.ok())
        return nullptr;
    tunedeck::Synth &synth = *made.value();
    // Written to through its handle, as the engine's sources do.
    synth.preload(song.value(), nullptr, false, onlyKeyShift);
    PlainSynth whole;
    for (int transpose : transposes) {
        fluid_synth_system_reset(synth.handle());
        fluid_synth_system_reset(whole.synth);
        const auto partial = play(song.value(), synth.handle(), kFrames, transpose);
        const auto expected = play(song.value(), whole.synth, kFrames, transpose);
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (std::abs(partial[i] - expected[i]) > 1e-6f) {
                ADD_FAILURE() << "at frame " << i / 2 << ", moved by " << transpose;
                break;
            }
        }
        EXPECT_GT(*std::max_element(expected.begin(), expected.end()), 0.01f) << "it is heard";
    }
    return std::move(made).value();
}

} // namespace

// Programs on several channels, one changed while others sound, drums, and a bank select to a
// bank the font lacks (FluidSynth falls back to bank 0): each sample as the whole font renders it,
// also with the notes moved as far as the listener can move them (though only the zones the
// song's notes reach are loaded). And a legato part whose held note starts again, far below the
// later one, with the program chosen while it was held.
TEST(PartialSoundfont, SongSoundsAsWithTheWholeFont)
{
    if (!tunedeck::findSoundfonts().ok())
        GTEST_SKIP() << "no soundfont installed";
    TrackWriter legato;
    legato.controller(0, 0, 68, 127)
        .noteOn(0, 0, 40, 100)
        .program(240, 0, 40)
        .noteOn(240, 0, 90, 100)
        .noteOff(240, 0, 90)
        .noteOff(480, 0, 40)
        .endOfTrack(0);
    expectSoundsAsWhole(legato, { 0 });

    TrackWriter track;
    track.program(0, 0, 24)
        .controller(0, 1, 0, 5)
        .program(0, 1, 40)
        .program(0, 2, 73)
        .noteOn(0, 0, 60, 100)
        .noteOn(0, 1, 67, 90)
        .noteOn(0, 9, 36, 110)
        .noteOn(0, 2, 72, 80)
        .noteOff(240, 9, 36)
        .noteOn(0, 9, 38, 100)
        .program(0, 0, 56)
        .noteOn(0, 0, 64, 100)
        .endOfTrack(720);
    const auto synth = expectSoundsAsWhole(
        track, { 0, -tunedeck::Synth::kKeyShiftRoom, tunedeck::Synth::kKeyShiftRoom });
    ASSERT_TRUE(synth);
    // Read for one key only (a song opened at that key).
    for (const int key : { -tunedeck::Synth::kKeyShiftRoom, 7 })
        expectSoundsAsWhole(track, { key }, key);

    // The next song's presets replace these at once, though their notes still sound: no thread of
    // FluidSynth's is left to free them later.
    const auto threads
        = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    const auto before = threads();
    synth->preload(
        tunedeck::MidiFile::parse(SmfWriter(0, 480).track(TrackWriter()).bytes()).value());
    EXPECT_EQ(threads(), before);
}

// Making the synthesiser builds no zones, instruments or samples: its heap grows by far less than
// loading the whole font's presets does, even without their samples. And of a chosen preset only
// the zones its notes reach are read: one drum costs less than the kit's every key and velocity.
TEST(PartialSoundfont, WhatIsNeverPlayedCostsNoMemory)
{
    if (!tunedeck::findSoundfonts().ok())
        GTEST_SKIP() << "no soundfont installed";
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator does not report through mallinfo2";
#endif
    // The heap in use while what `make` returns lives.
    const auto cost = [](const auto &make) {
        const auto heap = [] { return double(mallinfo2().uordblks + mallinfo2().hblkhd); };
        const double before = heap();
        [[maybe_unused]] const auto made = make();
        return heap() - before;
    };
    // FluidSynth's own (first use included) left out.
    const double bare = cost([] { return std::make_unique<PlainSynth>(false); });
    const double partial = cost([] { return tunedeck::Synth::create(kRate).value(); }) - bare;
    const double whole = cost([] { return std::make_unique<PlainSynth>(); }) - bare;
    EXPECT_LT(partial, whole / 4) << "made: " << partial
                                  << " bytes, the whole font's presets: " << whole << " bytes";

    const auto preloaded = [&](const TrackWriter &track) {
        const auto synth = tunedeck::Synth::create(kRate).value();
        const auto song = tunedeck::MidiFile::parse(SmfWriter(0, 480).track(track).bytes());
        return cost([&] { return (synth->preload(song.value()), 0); });
    };
    TrackWriter one, every;
    one.noteOn(0, 9, 38, 100).noteOff(480, 9, 38).endOfTrack(0);
    for (int key = 0; key < 128; ++key) {
        for (int velocity : { 1, 64, 127 })
            every.noteOn(0, 9, key, velocity).noteOff(10, 9, key);
    }
    const double some = preloaded(one), all = preloaded(every.endOfTrack(0));
    EXPECT_LT(some, all / 2) << "one note: " << some << " bytes, every note: " << all << " bytes";
}

// A zone playing nothing is the global one only as its preset's or instrument's first; FluidSynth
// drops it anywhere else, and leaving out the zones before it must not make it first. Here it
// would silence the note (by 144 dB) if it were.
TEST(PartialSoundfont, ZonesPlayingNothingCountOnlyFirst)
{
    const testsupport::ScratchDir scratch;
    const struct Unchoose {
        ~Unchoose() { tunedeck::chooseSoundfonts({}); }
    } unchoose;
    // Three zones, each with its generators: keys 0 to 40, the one playing nothing (at -144 dB),
    // keys 41 up; then the terminal zone and generator.
    const std::vector<std::uint8_t> bags { 0, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0 };
    for (const std::size_t bag : { 1, 5 }) { // the preset's zones, the instrument's
        const std::uint8_t plays = bag == 1 ? 41 : 53; // the instrument, the sample
        SoundfontWriter font({ { 0, 0 } });
        font.pdta[bag].second = bags;
        font.pdta[bag + 2].second = { 43, 0, 0, 40, plays, 0, 0, 0, 48, 0, 0xA0, 0x05, 43, 0, 41,
            127, plays, 0, 0, 0, 0, 0, 0, 0 };
        font.pdta[bag - 1].second.at(bag == 1 ? 38 + 24 : 22 + 20) = 3; // the terminal's bag
        for (std::size_t i = 0; i < 1000; ++i) // a square wave, 441 Hz
            font.smpl[2 * i + 1] = (i / 50) % 2 ? 0x20 : 0xE0;
        const auto file = scratch.path() / "zones.sf2";
        ASSERT_TRUE(testsupport::writeFile(file, font.bytes()));
        tunedeck::chooseSoundfonts({ file });
        TrackWriter track;
        track.noteOn(0, 0, 72, 100).noteOff(480, 0, 72).endOfTrack(0);
        expectSoundsAsWhole(track, { 0 });
    }
}

// A font replaced while the program runs by one that cannot be served in parts (its preset part
// is not last) is read whole from then on, not served as the one it replaced.
TEST(PartialSoundfont, AFontReplacedIsReadAgain)
{
    const testsupport::ScratchDir scratch;
    const struct Unchoose {
        ~Unchoose() { tunedeck::chooseSoundfonts({}); }
    } unchoose;
    const auto file = scratch.path() / "replaced.sf2";
    TrackWriter track;
    track.noteOn(0, 0, 72, 100).noteOff(480, 0, 72).endOfTrack(0);
    for (const bool last : { true, false }) {
        SCOPED_TRACE(last ? "preset part last" : "a list after the preset part");
        SoundfontWriter font({ { 0, 0 } });
        for (std::size_t i = 0; i < 1000; ++i) // a square wave, 441 Hz
            font.smpl[2 * i + 1] = (i / 50) % 2 ? 0x20 : 0xE0;
        auto bytes = font.bytes();
        if (!last) {
            const std::string_view list("LIST\4\0\0\0xtra", 12);
            bytes.insert(bytes.end(), list.begin(), list.end());
            bytes[4] += 12;
        }
        const auto written = scratch.path() / "next.sf2";
        ASSERT_TRUE(testsupport::writeFile(written, bytes));
        std::filesystem::rename(written, file);
        tunedeck::chooseSoundfonts({ file });
        expectSoundsAsWhole(track, { 0 });
    }
}

// The preset part is read only when every record is where its indices say; anything else is
// refused (and the font loaded as it is).
TEST(PartialSoundfont, BrokenPresetPartsAreRefused)
{
    const std::vector<std::pair<int, int>> presets { { 0, 0 }, { 128, 0 } };
    const auto unbroken = SoundfontWriter(presets).bytes();
    const auto read = SoundfontPresets::read(std::span(unbroken));
    ASSERT_TRUE(read.has_value() && read->presetCount() == 2 && read->bank(1) == 128);
    // Each case edits the writer's sub-chunks, then the bytes written.
    const auto word = [](std::size_t chunk, std::size_t at, int value) {
        return [=](SoundfontWriter &font) {
            font.pdta[chunk].second.at(at) = std::uint8_t(value);
            font.pdta[chunk].second.at(at + 1) = std::uint8_t(value >> 8);
        };
    };
    const struct {
        const char *what;
        std::function<void(SoundfontWriter &)> edit;
        std::function<void(testsupport::Bytes &)> editFile;
    } cases[] = {
        { "not a soundfont", {}, [](auto &file) { file[8] = 'x'; } },
        { "file cut short", {}, [](auto &file) { file.resize(file.size() - 10); } },
        { "sub-chunk past the end", {}, [](auto &file) { file[file.size() - 96] = 0xFF; } },
        { "preset part not last", {},
            [](auto &file) {
                file.resize(file.size() + 8); // an empty chunk with no name
                file[4] += 8;
            } },
        { "bag indices descending", word(0, 38 + 24, 3), {} },
        { "terminal bag out of range", word(0, 2 * 38 + 24, 7), {} },
        { "generator indices descending", word(1, 4, 3), {} },
        { "a generator before the first bag's", word(1, 0, 1), {} },
        { "generator index out of range", word(1, 8, 9), {} },
        { "modulator index out of range", word(1, 10, 3), {} },
        { "preset record size", [](auto &font) { font.pdta[0].second.pop_back(); }, {} },
        { "bag record size", [](auto &font) { font.pdta[1].second.push_back(0); }, {} },
        { "sub-chunks out of order", [](auto &f) { std::swap(f.pdta[1], f.pdta[2]); }, {} },
    };
    for (const auto &broken : cases) {
        SoundfontWriter font(presets);
        if (broken.edit)
            broken.edit(font);
        auto file = font.bytes();
        if (broken.editFile)
            broken.editFile(file);
        EXPECT_FALSE(SoundfontPresets::read(std::span(file)).has_value()) << broken.what;
    }
    // A gigabyte of zeros after the header (empty chunks with no name) is refused at once.
    constexpr std::uint64_t kSize = std::uint64_t { 1 } << 30;
    int reads = 0;
    const auto zeros = [&reads](std::uint64_t offset, std::uint8_t *out, std::size_t count) {
        ++reads;
        std::fill_n(out, count, 0);
        if (offset == 0 && count >= 12) {
            std::memcpy(out, "RIFF\xf8\xff\xff\x3fsfbk", 12);
        }
        return true;
    };
    EXPECT_FALSE(SoundfontPresets::read(zeros, kSize).has_value());
    EXPECT_LE(reads, 4);
}

// Two synthesisers made at once, the first of the process among them (a song and the one read
// ahead for the next): FluidSynth's setup for the process is not over when the first call to
// new_fluid_synth() lets another through, and one made then lacked its default modulators
// (velocity, volume, pan, pitch bend). Each has them.
TEST(PartialSoundfont, SynthesisersMadeAtOnceAreEachSetUp)
{
    if (g_randCalled)
        GTEST_SKIP() << "FluidSynth was set up by an earlier test of this process";
    g_holdRand = true;
    std::optional<tunedeck::Result<std::unique_ptr<tunedeck::Synth>>> first;
    std::thread making([&first] { first = tunedeck::Synth::create(kRate); });
    const bool held = g_randEntered.try_acquire_for(std::chrono::seconds(30));
    auto second = tunedeck::Synth::create(kRate);
    g_randReleased.release();
    making.join();
    ASSERT_TRUE(held) << "FluidSynth set itself up without rand()";
    ASSERT_TRUE(first && first->ok() && second.ok());
    for (const auto *synth : { first->value().get(), second.value().get() }) {
        fluid_mod_t *velocityToVolume = new_fluid_mod();
        fluid_mod_set_source1(velocityToVolume, FLUID_MOD_VELOCITY,
            FLUID_MOD_GC | FLUID_MOD_CONCAVE | FLUID_MOD_UNIPOLAR | FLUID_MOD_NEGATIVE);
        fluid_mod_set_source2(velocityToVolume, 0, 0);
        fluid_mod_set_dest(velocityToVolume, GEN_ATTENUATION);
        EXPECT_EQ(fluid_synth_remove_default_mod(synth->handle(), velocityToVolume), FLUID_OK)
            << (synth == second.value().get() ? "the second" : "the first");
        delete_fluid_mod(velocityToVolume);
    }
}
