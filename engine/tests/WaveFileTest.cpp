// Wave files of many encodings, rates and channel counts: the length they report, and the sound
// they give at the output's rate and layout.

#include "DeviceTestSupport.h"
#include "testsupport/WaveWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <string>
#include <unistd.h>

using namespace devicetest;
using tunedeck::Device;
using tunedeck::OutputMode;

namespace {

constexpr int kOutputRate = 44100;
constexpr double kAmplitude = 0.5;
constexpr double kDurationSeconds = 1.2345;

struct WaveCase {
    const char *name;
    int subtype; // SF_FORMAT_PCM_16, ...
    int sampleRate;
    int channels;
    double toneHz;
    bool lossy; // ADPCM and 8-bit: allow for their noise
};

// A wave file's place in the temporary folder, of this process's own.
std::filesystem::path scratchWave(const std::string &name)
{
    return std::filesystem::temp_directory_path()
        / ("tunedeck-wave-" + std::to_string(::getpid()) + "-" + name + ".wav");
}

// A tone in every channel; with two channels the right one is at half the level, so a swap of
// sides shows.
std::filesystem::path writeTone(
    const std::filesystem::path &path, const WaveCase &wave, sf_count_t &frames)
{
    frames = sf_count_t(std::llround(kDurationSeconds * wave.sampleRate));
    EXPECT_TRUE(testsupport::writeTone(path,
        { .rate = wave.sampleRate,
            .channels = wave.channels,
            .frames = frames,
            .hz = wave.toneHz,
            .level = kAmplitude,
            .rightLevel = wave.channels == 2 ? 0.5 : 1.0,
            .subtype = wave.subtype }))
        << sf_strerror(nullptr);
    return path;
}

// soxi's length in seconds, or a negative number when sox is not installed.
double soxiSeconds(const std::filesystem::path &path)
{
    const std::string command = "soxi -D '" + path.string() + "' 2>/dev/null";
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return -1;
    double seconds = -1;
    if (std::fscanf(pipe, "%lf", &seconds) != 1)
        seconds = -1;
    return ::pclose(pipe) == 0 ? seconds : -1;
}

double rms(const std::vector<float> &stereo, int side, std::size_t from, std::size_t to)
{
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += double(stereo[2 * i + std::size_t(side)]) * stereo[2 * i + std::size_t(side)];
    return std::sqrt(sum / double(to - from));
}

class WaveFiles : public ::testing::TestWithParam<WaveCase> {
protected:
    void SetUp() override
    {
        m_path = scratchWave(GetParam().name);
        sf_count_t written = 0;
        writeTone(m_path, GetParam(), written);
        // ADPCM stores whole blocks, so such a file holds a little more than was written (sox
        // counts the same way); every other encoding holds exactly what was written.
        SF_INFO info {};
        SNDFILE *file = sf_open(m_path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr);
        sf_close(file);
        m_frames = info.frames;
        if (GetParam().subtype == SF_FORMAT_IMA_ADPCM || GetParam().subtype == SF_FORMAT_MS_ADPCM)
            ASSERT_GE(m_frames, written);
        else
            ASSERT_EQ(m_frames, written);
    }
    void TearDown() override { std::filesystem::remove(m_path); }

    std::filesystem::path m_path;
    sf_count_t m_frames = 0;
};

} // namespace

// The length is the file's frames over its rate, truncated to whole ms, as soxi reports it.
TEST_P(WaveFiles, ReportLengthOfFramesOverRateAsSoxiDoes)
{
    const auto info = Device::probe(m_path);
    ASSERT_TRUE(info) << tunedeck::errorText(info.error().code) << " " << info.error().detail;
    EXPECT_EQ(info.value().kind, tunedeck::MediaKind::Wave);
    EXPECT_EQ(info.value().lengthMs, std::uint32_t(m_frames * 1000 / GetParam().sampleRate));

    if (const double seconds = soxiSeconds(m_path); seconds >= 0)
        EXPECT_EQ(info.value().lengthMs, std::uint32_t(std::floor(seconds * 1000 + 1e-6)));
    else
        GTEST_LOG_(INFO) << "sox is not installed; soxi comparison left out";

    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(m_path));
    EXPECT_EQ(device.lengthMs(), info.value().lengthMs);
}

// Converted to the output's rate and stereo layout, the tone keeps its pitch, level and sides,
// lasts as long as the file, and has no clicks.
TEST_P(WaveFiles, PlayAtTheOutputRateWithoutArtefacts)
{
    const WaveCase &wave = GetParam();
    Device device(nullptr, OutputMode::Offline);
    ASSERT_EQ(device.sampleRate(), kOutputRate);
    ASSERT_TRUE(device.open(m_path));
    std::vector<float> sound;
    const std::size_t frames = renderToEnd(device, &sound);
    const double expectedFrames = double(m_frames) * kOutputRate / wave.sampleRate;
    EXPECT_NEAR(double(frames), expectedFrames, 2.0);
    EXPECT_EQ(device.positionMs(), device.lengthMs());

    // Judge the middle, away from the resampler's edges.
    const std::size_t from = frames / 10;
    const std::size_t to = frames - frames / 10;
    const double tolerance = wave.lossy ? 0.1 : 0.02;
    const double expectedRms = kAmplitude / std::numbers::sqrt2;
    EXPECT_NEAR(rms(sound, 0, from, to), expectedRms, expectedRms * tolerance);
    const double rightLevel = wave.channels == 2 ? 0.5 : 1.0;
    EXPECT_NEAR(rms(sound, 1, from, to), expectedRms * rightLevel, expectedRms * tolerance);

    int crossings = 0;
    float largestStep = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        const float previous = sound[2 * (i - 1)];
        const float current = sound[2 * i];
        crossings += (previous < 0) != (current < 0);
        largestStep = std::max(largestStep, std::abs(current - previous));
    }
    const double measuredHz = crossings / 2.0 / (double(to - from) / kOutputRate);
    EXPECT_NEAR(measuredHz, wave.toneHz, wave.toneHz * 0.02);
    // A sine's steepest step between samples, plus room for the codec's noise.
    const double steepest = 2 * std::numbers::pi * wave.toneHz * kAmplitude / kOutputRate;
    EXPECT_LT(largestStep, steepest * 1.2 + (wave.lossy ? 0.05 : 0.005));
}

// A block-coded file cut short (a download stopped) plays the whole blocks it holds, is as long
// as they are, and ends there: its cut block is not decoded from stale bytes into loud noise.
TEST(WaveSamples, CutAdpcmEndsAtItsLastWholeBlock)
{
    for (const int subtype : { SF_FORMAT_IMA_ADPCM, SF_FORMAT_MS_ADPCM }) {
        const auto path = scratchWave("cut-adpcm");
        sf_count_t written = 0;
        writeTone(path, { "cut", subtype, kOutputRate, 1, 440, true }, written);
        const std::uint32_t whole = Device::probe(path).value().lengthMs;
        std::filesystem::resize_file(path, std::filesystem::file_size(path) - 900);
        Device device(nullptr, OutputMode::Offline);
        ASSERT_TRUE(device.open(path));
        EXPECT_LT(device.lengthMs(), whole) << subtype;
        EXPECT_EQ(Device::probe(path).value().lengthMs, device.lengthMs()) << subtype;
        std::vector<float> sound;
        renderToEnd(device, &sound);
        EXPECT_EQ(device.positionMs(), device.lengthMs()) << subtype;
        for (const float sample : sound)
            ASSERT_LT(std::abs(sample), kAmplitude * 1.2) << subtype;
        std::filesystem::remove(path);
    }
}

// A 5.1 file that says where its channels stand: what is in front of the listener, or behind
// on one side, is heard there; the low-frequency channel is left out.
TEST(WaveLayout, SurroundChannelsGoWhereTheyStand)
{
    const auto path = scratchWave("surround");
    const struct {
        int channel;
        double left;
        double right;
    } rows[] = { { 0, 1.0, 0.0 }, { 2, 1.0, 1.0 }, { 3, 0.0, 0.0 }, { 5, 0.0, 1.0 } };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.channel);
        SF_INFO info {};
        info.samplerate = kOutputRate;
        info.channels = 6;
        info.format = SF_FORMAT_WAVEX | SF_FORMAT_FLOAT;
        SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        int map[]
            = { SF_CHANNEL_MAP_FRONT_LEFT, SF_CHANNEL_MAP_FRONT_RIGHT, SF_CHANNEL_MAP_FRONT_CENTER,
                  SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT };
        sf_command(file, SFC_SET_CHANNEL_MAP_INFO, map, sizeof map);
        std::vector<float> frames(6 * kOutputRate / 10);
        for (std::size_t i = std::size_t(row.channel); i < frames.size(); i += 6)
            frames[i] = float(
                kAmplitude * std::sin(2 * std::numbers::pi * 440 * double(i / 6) / kOutputRate));
        ASSERT_EQ(sf_writef_float(file, frames.data(), kOutputRate / 10), kOutputRate / 10);
        sf_close(file);

        Device device(nullptr, OutputMode::Offline);
        ASSERT_TRUE(device.open(path));
        std::vector<float> sound;
        const std::size_t rendered = renderToEnd(device, &sound);
        const double left = rms(sound, 0, 0, rendered);
        const double right = rms(sound, 1, 0, rendered);
        EXPECT_EQ(left > 0.01, row.left > 0) << left;
        EXPECT_EQ(right > 0.01, row.right > 0) << right;
        if (row.left > 0 && row.right > 0) {
            EXPECT_NEAR(left, right, 1e-6);
        }
    }
    std::filesystem::remove(path);
}

// A float file's samples that are no number play as silence, at the output's rate and resampled
// to it alike.
TEST(WaveSamples, NoNumberIsSilence)
{
    const auto path = scratchWave("nan");
    for (const int rate : { kOutputRate, 48000 }) {
        SCOPED_TRACE(rate);
        SF_INFO info {};
        info.samplerate = rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        std::vector<float> frames(std::size_t(rate) / 10, 0.25f);
        frames[1000] = NAN;
        frames[2000] = INFINITY;
        frames[3000] = -INFINITY;
        ASSERT_EQ(sf_writef_float(file, frames.data(), sf_count_t(frames.size())),
            sf_count_t(frames.size()));
        sf_close(file);

        Device device(nullptr, OutputMode::Offline);
        ASSERT_TRUE(device.open(path));
        std::vector<float> sound;
        renderToEnd(device, &sound);
        EXPECT_TRUE(std::all_of(sound.begin(), sound.end(),
            [](float sample) { return std::isfinite(sample) && std::abs(sample) < 0.5f; }));
    }
    std::filesystem::remove(path);
}

// A looped wave file's passes follow each other with no break: every block is whole up to the
// last pass's end (a sound card would hear the rest of a block cut at a seam as silence), the
// tone goes on smoothly through each seam, resampled or not, and the file plays as many times
// as asked, however many passes a block at four times the speed takes in (blocks as large as
// tdplay's renders).
TEST(WaveSamples, LoopedPassesFollowWithoutABreak)
{
    const auto path = scratchWave("loop");
    // 440 Hz in whole periods, so the passes join without a step; short passes (a drum loop)
    // many to a ring.
    const struct {
        int rate;
        int ms;
        int loops;
        int percent;
    } waves[] = { { kOutputRate, 1500, 3, 100 }, { 48000, 1500, 3, 100 },
        { kOutputRate, 100, 60, 100 }, { 48000, 250, 20, 100 }, { kOutputRate, 100, 29, 400 } };
    for (const auto &wave : waves) {
        SCOPED_TRACE(testing::Message()
            << wave.rate << " Hz, " << wave.ms << " ms at " << wave.percent << " %");
        const std::int64_t frames = std::int64_t(wave.rate) * wave.ms / 1000;
        ASSERT_TRUE(testsupport::writeTone(path,
            { .rate = wave.rate,
                .frames = frames,
                .level = kAmplitude,
                .subtype = SF_FORMAT_FLOAT }));
        Device device(nullptr, OutputMode::Offline);
        ASSERT_TRUE(device.open(path));
        device.setLoopCount(wave.loops);
        device.setTempoPercent(wave.percent);
        device.play();
        constexpr std::size_t kFrames = 4096;
        std::vector<float> block(kFrames * 2);
        std::vector<float> sound;
        std::size_t cutBlocks = 0;
        while (device.isPlaying() && sound.size() < std::size_t(kOutputRate) * 20) {
            const std::size_t got = device.pump(block);
            cutBlocks += got < kFrames && device.isPlaying();
            sound.insert(sound.end(), block.begin(), block.begin() + std::ptrdiff_t(2 * got));
        }
        EXPECT_EQ(cutBlocks, 0u);
        EXPECT_NEAR(double(sound.size() / 2),
            double(wave.loops) * double(frames) * kOutputRate / wave.rate * 100 / wave.percent,
            2.0);
        float largestStep = 0;
        for (std::size_t i = 2; i + 2 < sound.size(); i += 2)
            largestStep = std::max(largestStep, std::abs(sound[i] - sound[i - 2]));
        const double hertz = 440.0 * wave.percent / 100;
        EXPECT_LT(
            largestStep, 2 * std::numbers::pi * hertz * kAmplitude / kOutputRate * 1.2 + 0.005);
    }
    std::filesystem::remove(path);
}

// An MP3 file named .wav is refused: libsndfile would play it, but only guesses its length.
TEST(WaveSamples, Mp3IsNoWave)
{
    const auto path = scratchWave("mp3");
    if (!testsupport::writeTone(
            path, { .subtype = SF_FORMAT_MPEG_LAYER_III, .container = SF_FORMAT_MPEG }))
        GTEST_SKIP() << "this libsndfile writes no MP3: " << sf_strerror(nullptr);
    const auto probed = Device::probe(path);
    std::filesystem::remove(path);
    ASSERT_FALSE(probed.ok());
    EXPECT_EQ(probed.error().code, tunedeck::Error::Code::NotWave);
}

INSTANTIATE_TEST_SUITE_P(Encodings, WaveFiles,
    ::testing::Values(WaveCase { "Pcm8Mono8k", SF_FORMAT_PCM_U8, 8000, 1, 440, true },
        WaveCase { "Pcm16Stereo44k", SF_FORMAT_PCM_16, 44100, 2, 1000, false },
        WaveCase { "Pcm16Stereo22k", SF_FORMAT_PCM_16, 22050, 2, 1000, false },
        WaveCase { "Pcm24Mono48k", SF_FORMAT_PCM_24, 48000, 1, 1000, false },
        WaveCase { "Pcm32Stereo96k", SF_FORMAT_PCM_32, 96000, 2, 1000, false },
        WaveCase { "FloatMono11k", SF_FORMAT_FLOAT, 11025, 1, 1000, false },
        WaveCase { "Pcm16SixChannels48k", SF_FORMAT_PCM_16, 48000, 6, 1000, false },
        WaveCase { "MuLawMono8k", SF_FORMAT_ULAW, 8000, 1, 440, true },
        WaveCase { "ALawStereo8k", SF_FORMAT_ALAW, 8000, 2, 440, true },
        WaveCase { "ImaAdpcmMono22k", SF_FORMAT_IMA_ADPCM, 22050, 1, 440, true },
        WaveCase { "MsAdpcmStereo44k", SF_FORMAT_MS_ADPCM, 44100, 2, 440, true }),
    [](const auto &testCase) { return std::string(testCase.param.name); });
