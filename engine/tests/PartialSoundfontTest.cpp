// Soundfonts loaded with only the presets a song chooses: the song sounds as with the whole font,
// presets never chosen cost no memory, and broken preset parts are refused.

#include "SoundfontPresets.h"
#include "tunedeck/MidiFile.h"
#include "tunedeck/Synth.h"

#include "testsupport/MidiWriter.h"
#include "testsupport/SoundfontWriter.h"

#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>
#include <functional>
#include <vector>

using testsupport::SmfWriter;
using testsupport::SoundfontWriter;
using testsupport::TrackWriter;
using tunedeck::SoundfontPresets;

namespace {

constexpr int kRate = 44100;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kOwnAllocator = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kOwnAllocator = true;
#else
constexpr bool kOwnAllocator = false;
#endif
#else
constexpr bool kOwnAllocator = false;
#endif

// A synthesiser made the plain way, with every soundfont loaded whole.
struct PlainSynth {
    explicit PlainSynth(bool dynamicSamples, bool load = true)
    {
        fluid_settings_setnum(settings, "synth.sample-rate", kRate);
        fluid_settings_setint(settings, "synth.cpu-cores", 1);
        fluid_settings_setint(settings, "synth.dynamic-sample-loading", dynamicSamples);
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

// Plays `song`'s channel messages into `synth` at their frames; `render` writes interleaved
// stereo frames. Returns `frames` frames.
std::vector<float> play(const tunedeck::MidiFile &song, fluid_synth_t *synth, std::size_t frames,
    const std::function<void(float *, int)> &render)
{
    std::vector<float> out(2 * frames);
    std::size_t done = 0;
    const auto until = [&](std::size_t frame) {
        for (; done < std::min(frame, frames); done += 64)
            render(out.data() + 2 * done, int(std::min<std::size_t>(64, frame - done)));
        done = std::min(frame, frames);
    };
    for (const tunedeck::MidiEvent &event : song.events()) {
        until(song.frameOf(event, kRate));
        const int channel = event.status & 0x0F;
        switch (event.status & 0xF0) {
        case 0x90:
            fluid_synth_noteon(synth, channel, event.data1(), event.data2());
            break;
        case 0x80:
            fluid_synth_noteoff(synth, channel, event.data1());
            break;
        case 0xB0:
            fluid_synth_cc(synth, channel, event.data1(), event.data2());
            break;
        case 0xC0:
            fluid_synth_program_change(synth, channel, event.data1());
            break;
        default:
            break;
        }
    }
    until(frames);
    return out;
}

bool haveSoundfont()
{
    return tunedeck::findSoundfonts().ok();
}

} // namespace

// Programs on several channels, one changed while others sound, drums, and a bank select to a
// bank the font lacks (FluidSynth falls back to bank 0): each sample as the whole font renders it.
TEST(PartialSoundfont, SongSoundsAsWithTheWholeFont)
{
    if (!haveSoundfont())
        GTEST_SKIP() << "no soundfont installed";
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
        .noteOff(480, 0, 60)
        .noteOff(0, 0, 64)
        .noteOff(0, 1, 67)
        .noteOff(0, 2, 72)
        .noteOff(0, 9, 38)
        .endOfTrack(240);
    const auto song = tunedeck::MidiFile::parse(SmfWriter(0, 480).track(track).bytes());
    ASSERT_TRUE(song.ok());
    constexpr std::size_t kFrames = kRate * 3 / 2;

    auto made = tunedeck::Synth::create(kRate);
    ASSERT_TRUE(made.ok());
    tunedeck::Synth &synth = *made.value();
    synth.preload(song.value());
    const auto partial = play(song.value(), synth.handle(), kFrames,
        [&](float *out, int frames) { ASSERT_TRUE(synth.write(out, frames)); });

    PlainSynth whole(true);
    const auto expected = play(song.value(), whole.synth, kFrames, [&](float *out, int frames) {
        fluid_synth_write_float(whole.synth, frames, out, 0, 2, out, 1, 2);
    });
    double loudest = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(partial[i], expected[i], 1e-6) << "at frame " << i / 2;
        loudest = std::max(loudest, double(std::fabs(expected[i])));
    }
    EXPECT_GT(loudest, 0.01) << "the song is heard";
}

// Making the synthesiser builds no zones, instruments or samples: its heap grows by far less than
// loading the whole font's presets does, even without their samples.
TEST(PartialSoundfont, PresetsNeverChosenCostNoMemory)
{
    if (!haveSoundfont())
        GTEST_SKIP() << "no soundfont installed";
    if (kOwnAllocator)
        GTEST_SKIP() << "the sanitizer's allocator does not report through mallinfo2";
    const auto heap = [] { return double(mallinfo2().uordblks); };
    // FluidSynth's own first-use costs, out of the figures below.
    {
        PlainSynth warm(true);
    }

    double bare = heap();
    {
        PlainSynth empty(true, false);
        bare = heap() - bare;
    }
    const double before = heap();
    auto made = tunedeck::Synth::create(kRate);
    ASSERT_TRUE(made.ok());
    const double partial = heap() - before - bare;
    made.value().reset();

    const double plainBefore = heap();
    PlainSynth whole(true);
    const double wholeCost = heap() - plainBefore - bare;
    EXPECT_LT(partial, wholeCost / 4)
        << "made: " << partial << " bytes, the whole font's presets: " << wholeCost << " bytes";
}

// The preset part is read only when every record is where its indices say; anything else is
// refused (and the font loaded as it is).
TEST(PartialSoundfont, BrokenPresetPartsAreRefused)
{
    using Edit = std::function<void(SoundfontWriter &, std::vector<std::uint8_t> &)>;
    const auto word = [](std::vector<std::uint8_t> &bytes, std::size_t at, int value) {
        bytes.at(at) = std::uint8_t(value);
        bytes.at(at + 1) = std::uint8_t(value >> 8);
    };
    const auto chunk = [](SoundfontWriter &font, int index) -> std::vector<std::uint8_t> & {
        return font.pdta[std::size_t(index)].second;
    };
    const struct {
        const char *what;
        Edit edit;
    } cases[] = {
        { "file cut short", [](auto &, auto &file) { file.resize(file.size() - 10); } },
        { "not a soundfont", [](auto &, auto &file) { file[8] = 'x'; } },
        { "preset part not last",
            [](auto &font, auto &file) {
                font.after.push_back({ "junk", { 1, 2 } });
                file = font.bytes();
            } },
        { "sub-chunk past the end",
            [](auto &, auto &file) { file[file.size() - 46 * 2 - 8 + 4] = 0xFF; } },
        { "preset record size",
            [&](auto &font, auto &file) {
                chunk(font, 0).pop_back();
                file = font.bytes();
            } },
        { "bag record size",
            [&](auto &font, auto &file) {
                chunk(font, 1).push_back(0);
                file = font.bytes();
            } },
        { "sub-chunks out of order",
            [](auto &font, auto &file) {
                std::swap(font.pdta[1], font.pdta[2]);
                file = font.bytes();
            } },
        { "bag indices descending",
            [&](auto &font, auto &file) {
                word(chunk(font, 0), 38 + 24, 0);
                word(chunk(font, 0), 24, 1);
                file = font.bytes();
            } },
        { "terminal bag out of range",
            [&](auto &font, auto &file) {
                word(chunk(font, 0), 2 * 38 + 24, 7);
                file = font.bytes();
            } },
        { "generator indices descending",
            [&](auto &font, auto &file) {
                word(chunk(font, 1), 0, 2);
                file = font.bytes();
            } },
        { "a generator before the first bag's",
            [&](auto &font, auto &file) {
                word(chunk(font, 1), 0, 1);
                word(chunk(font, 1), 4, 1);
                file = font.bytes();
            } },
        { "generator index out of range",
            [&](auto &font, auto &file) {
                word(chunk(font, 1), 2 * 4, 9);
                file = font.bytes();
            } },
        { "modulator index out of range",
            [&](auto &font, auto &file) {
                word(chunk(font, 1), 2 * 4 + 2, 3);
                file = font.bytes();
            } },
    };
    const std::vector<SoundfontWriter::Preset> presets { { 0, 0 }, { 128, 0 } };
    {
        const auto file = SoundfontWriter(presets).bytes();
        const auto font = SoundfontPresets::read(std::span(file));
        ASSERT_TRUE(font.has_value()) << "the unbroken fixture";
        ASSERT_EQ(font->presetCount(), 2u);
        EXPECT_EQ(font->bank(1), 128);
        // Written with every preset, the part is the file's own; with none, each is empty.
        const auto all = font->pdta([](std::size_t) { return true; });
        EXPECT_TRUE(std::equal(
            all.begin(), all.end(), file.begin() + long(font->pdtaOffset()), file.end()));
        auto none = file;
        none.resize(font->pdtaOffset());
        const auto empty = font->pdta([](std::size_t) { return false; });
        EXPECT_EQ(all.size() - empty.size(), 2u * (4 + 4)) << "a bag and a generator each";
        none.insert(none.end(), empty.begin(), empty.end());
        for (int i = 0; i < 4; ++i)
            none[4 + std::size_t(i)] = std::uint8_t((none.size() - 8) >> (8 * i));
        const auto skeleton = SoundfontPresets::read(std::span(none));
        ASSERT_TRUE(skeleton.has_value());
        EXPECT_EQ(skeleton->presetCount(), 2u);
    }
    for (const auto &broken : cases) {
        SoundfontWriter font(presets);
        auto file = font.bytes();
        broken.edit(font, file);
        EXPECT_FALSE(SoundfontPresets::read(std::span(file)).has_value()) << broken.what;
    }
}
