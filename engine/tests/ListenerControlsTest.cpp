// What the listener sets on a device, as heard through an offline device: key, tempo, muted and
// soloed channels, and loops (the whole file, or the part a song marks).

#include "DeviceTestSupport.h"
#include "testsupport/MidiWriter.h"
#include "testsupport/ScratchDir.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <numbers>
#include <string>
#include <thread>
#include <unistd.h>

using namespace devicetest;
using testsupport::SmfWriter;
using testsupport::TrackWriter;
using tunedeck::Device;
using tunedeck::OutputMode;

namespace {

constexpr std::size_t kRate = 44100;
constexpr std::uint32_t kQuarter = 480; // ticks: 500 ms at the default tempo

// The fundamental of a stereo sound's left side in Hz, by autocorrelation (50..2000 Hz): the
// shortest lag that matches nearly as well as the best one, so an overtone never wins.
double pitchOf(std::span<const float> sound)
{
    std::vector<double> left;
    for (std::size_t i = 0; i < sound.size(); i += 2)
        left.push_back(sound[i]);
    const std::size_t shortest = kRate / 2000;
    const std::size_t longest = kRate / 50;
    std::vector<double> match(longest + 1, 0.0);
    for (std::size_t lag = shortest; lag <= longest; ++lag)
        for (std::size_t i = 0; i + lag < left.size(); ++i)
            match[lag] += left[i] * left[i + lag];
    const double best = *std::max_element(match.begin(), match.end());
    std::size_t lag = shortest;
    while (lag < longest && !(match[lag] > 0.9 * best && match[lag] >= match[lag + 1]))
        ++lag;
    return double(kRate) / double(lag);
}

double rms(std::span<const float> sound)
{
    double sum = 0;
    for (const float sample : sound)
        sum += double(sample) * sample;
    return std::sqrt(sum / double(std::max<std::size_t>(1, sound.size())));
}

std::vector<float> difference(std::span<const float> a, std::span<const float> b)
{
    std::vector<float> result(std::max(a.size(), b.size()));
    for (std::size_t i = 0; i < result.size(); ++i)
        result[i] = (i < a.size() ? a[i] : 0.0f) - (i < b.size() ? b[i] : 0.0f);
    return result;
}

// Where a recording's sound starts: its first sample above the noise, on a left sample.
std::size_t firstSound(const std::vector<float> &sound)
{
    std::size_t first = 0;
    while (first < sound.size() && std::abs(sound[first]) < 0.01f)
        ++first;
    return first - first % 2;
}

// A track with reverb and chorus off on every channel, so silence after the notes is silence.
TrackWriter dryTrack()
{
    TrackWriter track;
    for (int channel = 0; channel < 16; ++channel)
        track.controller(0, channel, 91, 0).controller(0, channel, 93, 0);
    return track;
}

class ListenerControls : public ::testing::Test {
protected:
    std::filesystem::path song(const std::string &name, const TrackWriter &track)
    {
        const auto path = m_dir / name;
        EXPECT_TRUE(testsupport::writeFile(path, SmfWriter(0, kQuarter).track(track).bytes()));
        return path;
    }

    // A mono wave lasting `ms`, a sine of `hz` or (hz 0) a ramp from 0 to 1.
    std::filesystem::path tone(const std::string &name, double hz, std::uint32_t ms)
    {
        const auto path = m_dir / name;
        SF_INFO info {};
        info.samplerate = int(kRate);
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_NE(file, nullptr);
        std::vector<float> samples(kRate * ms / 1000);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = hz == 0
                ? float(i) / float(samples.size())
                : float(0.3 * std::sin(2 * std::numbers::pi * hz * double(i) / kRate));
        sf_writef_float(file, samples.data(), sf_count_t(samples.size()));
        sf_close(file);
        return path;
    }

    const testsupport::ScratchDir m_scratch;
    const std::filesystem::path &m_dir = m_scratch.path();
};

// A note's pitch follows the key on melodic channels; drums (channel 10, a part a GS message
// makes drums) sound exactly the same at any key. What is a drum part is what the synthesiser
// plays as one: bank 127 is an instrument to it, and moves with the key.
TEST_F(ListenerControls, TransposeMovesMelodicNotesAndNeverDrums)
{
    Device device(nullptr, OutputMode::Offline);
    // A flute's A4 (440 Hz) held for a second.
    ASSERT_TRUE(device.open(song("flute.mid",
        dryTrack().program(0, 0, 73).noteOn(0, 0, 69, 100).noteOff(960, 0, 69).endOfTrack())));
    for (const int semitones : { 0, 12, -12, 7, -5 }) {
        SCOPED_TRACE(semitones);
        device.setTranspose(semitones);
        ASSERT_TRUE(device.seekMs(0));
        std::vector<float> sound;
        renderToEnd(device, &sound);
        const std::span<const float> middle(sound.data() + kRate / 2, kRate / 2);
        EXPECT_NEAR(pitchOf(middle), 440.0 * std::exp2(semitones / 12.0), 440.0 * 0.02);
    }

    // To every device, and to Roland's first (0x10), which GS files address.
    const std::uint8_t gsRhythmPart2[]
        = { 0x41, 0x7F, 0x42, 0x12, 0x40, 0x12, 0x15, 0x01, 0x18, 0xF7 };
    std::uint8_t gsRhythmPart2OfFirst[std::size(gsRhythmPart2)];
    std::copy(std::begin(gsRhythmPart2), std::end(gsRhythmPart2), gsRhythmPart2OfFirst);
    gsRhythmPart2OfFirst[1] = 0x10;
    const struct {
        const char *name;
        std::function<void(TrackWriter &)> hit; // a note at tick 0
        bool moves;
    } drumRows[] = {
        { "channel 10", [](TrackWriter &t) { t.noteOn(0, 9, 38, 100); }, false },
        { "GS rhythm part",
            [&](TrackWriter &t) { t.sysex(0, gsRhythmPart2).noteOn(0, 1, 38, 100); }, false },
        { "GS rhythm part, device 0x10",
            [&](TrackWriter &t) { t.sysex(0, gsRhythmPart2OfFirst).noteOn(0, 1, 38, 100); },
            false },
        { "bank 127",
            [](TrackWriter &t) {
                t.controller(0, 2, 0, 127).program(0, 2, 0).noteOn(0, 2, 38, 100);
            },
            true },
    };
    for (const auto &row : drumRows) {
        SCOPED_TRACE(row.name);
        TrackWriter track = dryTrack();
        row.hit(track);
        track.endOfTrack(960);
        std::vector<float> sound[2];
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(device.open(song("drums.mid", track)));
            device.setTranspose(i == 0 ? 0 : 5);
            pumpFrames(device, 2 * kRate); // the previous song's reverb dies away
            renderToEnd(device, &sound[i]);
        }
        EXPECT_GT(peak(sound[0]), 0.01f);
        EXPECT_EQ(rms(difference(sound[0], sound[1])) > 0.1 * rms(sound[0]), row.moves);
    }
}

// On the sound output, a song opened at one key is read for that key only, which starts it
// sooner; so is one read ahead (again when another key is chosen). A key changed while it plays
// is heard from the next note on, once the samples for every key have been read beside it (the
// key stays as it was until then); what rings then rings on, a pedal held stays held, and the
// channels' state is the one heard.
TEST_F(ListenerControls, KeyChangedWhilePlayingIsHeardOnTheOutput)
{
    // A crash cymbal and a flute's A4 at the start, and the A4 again at 4 s, quieter, for a
    // quarter of a second, held by the pedal to the end at 5 s.
    const auto song = this->song("key.mid",
        dryTrack()
            .controller(0, 0, 64, 127)
            .program(0, 0, 73)
            .noteOn(0, 9, 49, 100)
            .noteOn(0, 0, 69, 100)
            .noteOff(240, 0, 69)
            .controller(3600, 0, 7, 90)
            .noteOn(0, 0, 69, 100)
            .noteOff(240, 0, 69)
            .endOfTrack(720));
    const struct {
        const char *name;
        std::function<void(Device &)> opening;
    } rows[] = {
        { "read at the open", {} },
        { "read ahead", [&](Device &device) { device.prefetch(song); } },
        { "read ahead, then another key chosen",
            [&](Device &device) {
                device.prefetch(song);
                device.setTranspose(-3);
            } },
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const auto played = playOnTheOutput(
            song, m_dir / "key.raw",
            [](Device &device) {
                // Once the song plays (nothing tells of that but the position).
                for (int tries = 0; device.positionMs() < 100 && tries < 2000; ++tries)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                device.setTranspose(12);
            },
            [](Device &device) { EXPECT_EQ(device.channelState(0).controllers[7], 90); },
            row.opening);
        if (played.sound.empty())
            GTEST_SKIP() << "SDL's disk audio driver wrote no sound here";
        const std::size_t first = firstSound(played.sound);
        ASSERT_GT(played.sound.size(), first + 2 * kRate * 5);
        const auto at = [&](double seconds, double length) {
            return std::span<const float>(
                played.sound.data() + first + 2 * std::size_t(seconds * kRate),
                2 * std::size_t(length * kRate));
        };
        // Cut at the change, the cymbal would be silent here (the song is dry); TimGM6mb's has
        // faded to about 9e-4 by then.
        EXPECT_GT(rms(at(1.0, 0.5)), 1e-4) << "the cymbal rings on";
        const auto held = at(4.5, 0.25);
        EXPECT_GT(rms(held), 0.01) << "the pedal holds the note";
        EXPECT_NEAR(pitchOf(held), 880.0, 880.0 * 0.02);
    }
}

// Changing the key while notes sound ends them; a note started after the change ends with its
// own note-off, so nothing hangs after the song's notes have all ended.
TEST_F(ListenerControls, KeyChangesLeaveNoStuckNotes)
{
    Device device(nullptr, OutputMode::Offline);
    TrackWriter track = dryTrack();
    track
        .program(0, 0, 19) // church organ: sounds as long as a key is down
        .noteOn(0, 0, 60, 100)
        .noteOn(240, 0, 64, 100)
        .noteOff(480, 0, 60)
        .noteOff(240, 0, 64)
        .endOfTrack(1920);
    ASSERT_TRUE(device.open(song("organ.mid", track)));
    std::vector<float> block(kBlockFrames * 2);
    device.play();
    std::vector<float> last;
    std::size_t frames = 0;
    int key = 0;
    while (device.isPlaying()) {
        if (frames % (kRate / 10) < kBlockFrames) // a new key every 100 ms
            device.setTranspose(key = key == 3 ? -4 : 3);
        frames += device.pump(block);
        if (frames > kRate * 2) // the notes ended at 1 s; their release is over by 2 s
            last.insert(last.end(), block.begin(), block.end());
    }
    ASSERT_FALSE(last.empty());
    EXPECT_LT(peak(last), 1e-4f);
}

// The song's clock follows the tempo: it plays exactly as many output frames as its length at
// that tempo, a note sounds at its scaled time, and positions and seeks stay in song time.
TEST_F(ListenerControls, TempoScalesPlayingTimeExactly)
{
    Device device(nullptr, OutputMode::Offline);
    // Silence for a second, then a note until the end at 2 s.
    ASSERT_TRUE(device.open(song("late.mid",
        dryTrack().program(0, 0, 19).noteOn(960, 0, 60, 100).noteOff(960, 0, 60).endOfTrack())));
    for (const int percent : { 25, 50, 100, 150, 333, 400 }) {
        SCOPED_TRACE(percent);
        device.setTempoPercent(percent);
        ASSERT_TRUE(device.seekMs(0));
        const auto atTempo = [&](std::size_t songFrames) {
            return (songFrames * 100 + std::size_t(percent) - 1) / std::size_t(percent);
        };
        std::vector<float> sound;
        EXPECT_EQ(renderToEnd(device, &sound), atTempo(2 * kRate));
        EXPECT_EQ(device.positionMs(), 2000u);
        EXPECT_EQ(device.playLengthMs(), 2000u * 100 / unsigned(percent));
        std::size_t onset = 0;
        while (onset < sound.size() / 2 && std::abs(sound[2 * onset]) < 1e-4f)
            ++onset;
        // FluidSynth starts an event at its next 64-frame block, and the organ's sample takes a
        // few milliseconds to rise above the threshold (more in TimGM6mb than in FluidR3).
        const auto late = std::int64_t(onset) - std::int64_t(atTempo(kRate));
        EXPECT_GE(late, 0);
        EXPECT_LE(late, 256);

        ASSERT_TRUE(device.seekMs(1500));
        EXPECT_EQ(device.positionMs(), 1500u);
        EXPECT_EQ(renderToEnd(device), atTempo(kRate / 2));
    }
    // A song of weeks (as long as a file can say) plays for at least as long when slowed.
    ASSERT_TRUE(device.open(song(
        "weeks.mid", dryTrack().tempo(0, 0xFFFFFF).noteOn(0x0FFFFFFF, 0, 60, 100).endOfTrack())));
    device.setTempoPercent(Device::kMinTempoPercent);
    EXPECT_GT(device.lengthMs(), 1u << 30);
    EXPECT_GE(device.playLengthMs(), device.lengthMs());
    // A wave file plays faster and higher together, to its last frame (what the converter
    // still holds at the end included), and loops whole at any speed.
    const struct {
        std::uint32_t ms;
        int percent;
        int loops;
    } waves[] = { { 2000, 200, 1 }, { 2000, 25, 1 }, { 900, 50, 3 } };
    for (const auto &wave : waves) {
        SCOPED_TRACE(wave.percent);
        ASSERT_TRUE(device.open(tone("tone.wav", 440.0, wave.ms)));
        device.setTempoPercent(wave.percent);
        device.setLoopCount(wave.loops);
        std::vector<float> sound;
        const std::size_t frames = renderToEnd(device, &sound);
        EXPECT_NEAR(double(frames),
            double(kRate * wave.ms / 1000 * std::size_t(wave.loops)) * 100 / wave.percent, 2.0);
        if (wave.percent == 200) {
            EXPECT_NEAR(pitchOf(std::span<const float>(sound).subspan(kRate / 2, kRate)), 880.0,
                880 * 0.02);
        }
        EXPECT_EQ(device.positionMs(), wave.ms);
    }
    device.setLoopCount(1);

    // Through changes of speed, back to 100 % included, a ramp never goes back past the
    // converter's run-in from silence (its filter's half length), and skips nothing.
    ASSERT_TRUE(device.open(tone("ramp.wav", 0, 4000)));
    device.play();
    std::vector<float> block(2 * 500);
    float last = 0;
    for (const int percent : { 150, 100, 150, 125, 100 }) {
        device.setTempoPercent(percent);
        for (std::size_t i = 0; i < 10; ++i) {
            ASSERT_EQ(device.pump(block), 500u);
            if (percent == 100 && i == 0) {
                EXPECT_LT((block[0] - last) * 4 * kRate, 24) << "frames skipped";
            }
            for (std::size_t f = i == 0 ? 32 : 0; f < 500; last = block[2 * f++])
                ASSERT_GE(block[2 * f] * 4 * kRate, last * 4 * kRate - 1) << percent;
        }
    }
}

// A muted channel, or one left out by a solo, falls silent from the next block, its held notes
// stopped; the others play on.
TEST_F(ListenerControls, MuteAndSoloSilenceChannelsOnTheNextBlock)
{
    // Two organ notes held for four seconds on channels 1 and 4.
    TrackWriter track = dryTrack();
    track.program(0, 0, 19).program(0, 3, 19).noteOn(0, 0, 60, 100).noteOn(0, 3, 67, 100);
    track.noteOff(3840, 0, 60).noteOff(0, 3, 67).endOfTrack();
    const auto path = song("two.mid", track);
    const struct {
        std::uint16_t muted, soloed;
        bool sounds;
    } rows[] = {
        { 0, 0, true },
        { 1 << 0, 0, true },
        { 1 << 0 | 1 << 3, 0, false },
        { 0, 1 << 5, false },
        { 0, 1 << 3, true },
        { 1 << 3, 1 << 3, false },
        { 1 << 3, 1 << 0 | 1 << 3, true },
    };
    Device device(nullptr, OutputMode::Offline);
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << "muted " << row.muted << " soloed " << row.soloed);
        ASSERT_TRUE(device.open(path));
        device.play();
        const float before = peak(pumpFrames(device, kRate / 2));
        device.setMutedChannels(row.muted);
        device.setSoloChannels(row.soloed);
        pumpFrames(device, kBlockFrames);
        // The next block has lost the channel's own sound (the room's echo dies away later).
        const float next = peak(pumpFrames(device, kBlockFrames));
        pumpFrames(device, kRate);
        const float later = peak(pumpFrames(device, kBlockFrames));
        if (row.sounds) {
            // One of the two channels alone peaks at about half of both together.
            EXPECT_GT(next, 0.35f * before);
            EXPECT_GT(later, 0.35f * before);
        } else {
            EXPECT_LT(next, 0.25f * before);
            EXPECT_LT(later, 1e-3f);
        }
    }
    // A new song starts with every channel sounding.
    ASSERT_TRUE(device.open(path));
    EXPECT_EQ(device.mutedChannels(), 0);
    EXPECT_EQ(device.soloChannels(), 0);
    device.play();
    EXPECT_GT(peak(pumpFrames(device, kRate / 2)), 0.01f);
}

// Loops: a whole song or wave file N times, or the part a song marks N times and then on to the
// end. Each jump back restores the channel state of the loop's start.
TEST_F(ListenerControls, LoopsRepeatTheMarkedPartWithItsStateRestored)
{
    // Program 0 and volume 100 at the loop start (1 s, where a note starts), then program 40
    // and volume 20 at 1.5 s; the loop's end, if marked, at 1.75 s; the song ends at 2 s.
    const auto marked
        = [](std::function<void(TrackWriter &)> start, std::function<void(TrackWriter &)> end) {
              TrackWriter track = dryTrack();
              track.program(0, 0, 0).controller(0, 0, 7, 100).noteOn(0, 0, 60, 100);
              start(track);
              track.noteOn(0, 0, 64, 100).program(480, 0, 40).controller(0, 0, 7, 20);
              end(track);
              track.noteOff(240, 0, 64).endOfTrack();
              return track;
          };
    const auto none = [](TrackWriter &t) { t.controller(240, 0, 1, 0); };
    const auto cc111 = [](TrackWriter &t) { t.controller(960, 0, 111, 0); };
    const auto markerStart = [](TrackWriter &t) { t.text(960, 0x06, "loopStart"); };
    const auto markerEnd = [](TrackWriter &t) { t.text(240, 0x06, "loopEnd"); };
    const auto startOnly = [](TrackWriter &t) { t.controller(960, 0, 7, 100); };
    const auto both = marked(markerStart, markerEnd);
    const struct {
        const char *name;
        TrackWriter track;
        int count;
        std::size_t ms; // the playing time expected
        std::uint32_t fromMs = 0; // where playing starts
        int laterCount = -1; // the count from the second block on, when set
    } rows[] = {
        { "plain, once", marked(startOnly, none), 1, 2000 },
        { "whole song three times", marked(startOnly, none), 3, 6000 },
        { "CC 111 to the end, three times", marked(cc111, none), 3, 4000 },
        { "markers, twice, then to the end", marked(markerStart, markerEnd), 2, 2750 },
        { "marked song once", marked(markerStart, markerEnd), 1, 2000 },
        { "from before the loop's end, twice", both, 2, 1250, 1500 },
        { "from past the loop's end, for ever", both, Device::kLoopForever, 100, 1900 },
        { "for ever once past the loop's end", both, 1, 200, 1800, Device::kLoopForever },
    };
    Device device(nullptr, OutputMode::Offline);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(device.open(song("loop.mid", row.track)));
        device.setLoopCount(row.count);
        ASSERT_TRUE(device.seekMs(row.fromMs));
        std::vector<float> block(kBlockFrames * 2);
        std::size_t frames = 0;
        int jumps = 0;
        std::uint32_t last = 0;
        device.play();
        while (device.isPlaying() && frames < kRate * 60) {
            frames += device.pump(block);
            if (row.laterCount >= 0)
                device.setLoopCount(row.laterCount);
            if (device.positionMs() < last) {
                ++jumps;
                const auto state = device.channelState(0);
                EXPECT_EQ(state.program, 0);
                EXPECT_EQ(state.controllers[7], 100);
            }
            last = device.positionMs();
        }
        EXPECT_NEAR(double(frames), double(row.ms * kRate / 1000), 64.0);
        EXPECT_EQ(jumps, std::max(row.count, 1) - 1); // for ever: none, or it would not end
    }

    // A seek in the second of three passes moves within it: the pass before still counts, and
    // the file ends after the third.
    for (const auto &file :
        { tone("pass.wav", 440.0, 1000),
            song("pass.mid", dryTrack().noteOn(0, 0, 60, 100).noteOff(960, 0, 60).endOfTrack()) }) {
        SCOPED_TRACE(file.filename().string());
        ASSERT_TRUE(device.open(file));
        device.setLoopCount(3);
        device.play();
        std::vector<float> block(kBlockFrames * 2);
        std::size_t frames = 0;
        std::uint32_t last = 0, soughtAt = 0;
        bool again = false;
        while (device.isPlaying() && frames < kRate * 10) {
            frames += device.pump(block);
            again = again || device.positionMs() < last;
            last = device.positionMs();
            if (again && soughtAt == 0 && last >= 500) {
                soughtAt = last;
                ASSERT_TRUE(device.seekMs(200));
                device.play();
            }
        }
        EXPECT_NEAR(double(frames), double((2800 + soughtAt) * kRate / 1000), 2.0 * kBlockFrames);
    }

    // For ever: still playing long after the end, until the loop is turned off.
    ASSERT_TRUE(device.open(song("ever.mid", marked(markerStart, markerEnd))));
    device.setLoopCount(Device::kLoopForever);
    device.play();
    pumpFrames(device, kRate * 10);
    EXPECT_TRUE(device.isPlaying());
    device.setLoopCount(1);
    EXPECT_LE(renderToEnd(device), kRate);

    // A wave file plays whole, twice; a short one as often as asked, far more times than its
    // seeks are numbered apart (16 bits).
    ASSERT_TRUE(device.open(tone("tone.wav", 440.0, 500)));
    device.setLoopCount(2);
    EXPECT_NEAR(double(renderToEnd(device)), double(kRate), 64.0);
    ASSERT_TRUE(device.open(tone("click.wav", 440.0, 1)));
    device.setLoopCount(1);
    const std::size_t once = renderToEnd(device);
    ASSERT_GT(once, 0u);
    ASSERT_TRUE(device.seekMs(0));
    device.setLoopCount(40000);
    EXPECT_EQ(renderToEnd(device), 40000 * once);
    // One with no frames at all ends, even looped for ever.
    ASSERT_TRUE(device.open(tone("empty.wav", 440.0, 0)));
    device.setLoopCount(Device::kLoopForever);
    device.play();
    for (int block = 0; block < 10 && device.isPlaying(); ++block)
        pumpFrames(device, 512);
    EXPECT_FALSE(device.isPlaying());
}

// On the sound output, a wave file of 20 ms loops without a break, its passes read on one after
// another by its decoder.
TEST_F(ListenerControls, ShortWaveLoopsWithoutABreakOnTheOutput)
{
    const auto looped = playOnTheOutput(tone("short.wav", 441.0, 20), m_dir / "short.raw", {}, {},
        [](Device &output) { output.setLoopCount(50); });
    if (looped.sound.empty())
        GTEST_SKIP() << "SDL's disk audio driver wrote no sound here";
    const std::size_t first = firstSound(looped.sound);
    ASSERT_GE(looped.sound.size(), first + 2 * kRate); // 50 passes of 20 ms
    // Each 5 ms holds over two periods of the tone, its loudness steady through every pass.
    for (std::size_t at = first; at + 2 * kRate / 200 <= first + 2 * kRate; at += 2 * kRate / 200)
        ASSERT_GT(rms(std::span<const float>(looped.sound).subspan(at, 2 * kRate / 200)), 0.15)
            << "at frame " << (at - first) / 2;
}

} // namespace
