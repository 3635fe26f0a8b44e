#include "WaveSource.h"

#include <samplerate.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

namespace tunedeck {

namespace {

// More decoded samples than this (about 100 minutes of 48 kHz stereo) would be a header that
// lies about its length rather than a song; refuse instead of allocating gigabytes.
constexpr long long kMaxDecodedSamples = 600'000'000;
constexpr sf_count_t kDecodeChunkFrames = 65536;

struct SndFileCloser {
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

Result<SndFilePtr> openSndFile(const std::filesystem::path &path, SF_INFO &info)
{
    info = {};
    SNDFILE *file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return Error { Error::Code::NotWave, sf_strerror(nullptr), 0 };
    SndFilePtr owned(file);
    if (info.samplerate <= 0 || info.channels <= 0 || info.frames < 0)
        return Error { Error::Code::NotWave, "the header gives no usable rate or channel count", 0 };
    return owned;
}

// Mixes any channel count down (or up) to stereo: mono goes to both sides; of more channels, the
// even ones feed the left and the odd ones the right, each side averaged so nothing clips more
// than the source did.
void toStereo(const float *in, std::size_t frames, int channels, float *out)
{
    if (channels == 1) {
        for (std::size_t i = 0; i < frames; ++i)
            out[2 * i] = out[2 * i + 1] = in[i];
        return;
    }
    if (channels == 2) {
        std::memcpy(out, in, frames * 2 * sizeof(float));
        return;
    }
    const int leftCount = (channels + 1) / 2;
    const int rightCount = channels / 2;
    for (std::size_t i = 0; i < frames; ++i) {
        float left = 0.0f;
        float right = 0.0f;
        for (int c = 0; c < channels; ++c)
            (c % 2 == 0 ? left : right) += in[i * std::size_t(channels) + std::size_t(c)];
        out[2 * i] = left / float(leftCount);
        out[2 * i + 1] = right / float(rightCount);
    }
}

} // namespace

Result<WaveFacts> readWaveFacts(const std::filesystem::path &path)
{
    SF_INFO info;
    auto file = openSndFile(path, info);
    if (!file)
        return file.error();
    WaveFacts facts;
    facts.frames = info.frames;
    facts.sampleRate = info.samplerate;
    facts.channels = info.channels;
    facts.lengthMs = static_cast<std::uint32_t>(
        std::min<long long>(info.frames * 1000 / info.samplerate, 0xFFFFFFFFLL));
    return facts;
}

Result<std::unique_ptr<WaveSource>> WaveSource::decode(
    const std::filesystem::path &path, int outputRate)
{
    SF_INFO info;
    auto opened = openSndFile(path, info);
    if (!opened)
        return opened.error();
    SNDFILE *file = opened.value().get();
    if (info.frames * std::max(info.channels, 2) > kMaxDecodedSamples)
        return Error { Error::Code::Malformed, "the wave file claims to be longer than can be", 0 };
    // Keeps float data as it is and scales integer data to -1..1.
    sf_command(file, SFC_SET_NORM_FLOAT, nullptr, SF_TRUE);

    const auto frames = static_cast<std::size_t>(info.frames);
    std::vector<float> stereo(frames * 2, 0.0f);
    std::vector<float> chunk(static_cast<std::size_t>(kDecodeChunkFrames) * std::size_t(info.channels));
    std::size_t decoded = 0;
    while (decoded < frames) {
        const sf_count_t wanted = std::min<sf_count_t>(kDecodeChunkFrames, sf_count_t(frames - decoded));
        const sf_count_t got = sf_readf_float(file, chunk.data(), wanted);
        if (got <= 0)
            break; // Data cut short: the rest stays silent, as other players do.
        toStereo(chunk.data(), std::size_t(got), info.channels, stereo.data() + 2 * decoded);
        decoded += std::size_t(got);
    }
    if (decoded == 0 && frames > 0 && sf_error(file) != SF_ERR_NO_ERROR)
        return Error { Error::Code::Truncated, sf_strerror(file), 0 };

    const auto lengthMs = static_cast<std::uint32_t>(
        std::min<long long>(info.frames * 1000 / info.samplerate, 0xFFFFFFFFLL));
    if (info.samplerate == outputRate || frames == 0)
        return std::unique_ptr<WaveSource>(new WaveSource(std::move(stereo), outputRate, lengthMs));

    const double ratio = double(outputRate) / double(info.samplerate);
    const auto outFrames = static_cast<std::size_t>(std::ceil(double(frames) * ratio));
    std::vector<float> resampled((outFrames + 16) * 2, 0.0f);
    SRC_DATA job {};
    job.data_in = stereo.data();
    job.input_frames = static_cast<long>(frames);
    job.data_out = resampled.data();
    job.output_frames = static_cast<long>(outFrames + 16);
    job.src_ratio = ratio;
    job.end_of_input = 1;
    if (const int failure = src_simple(&job, SRC_SINC_MEDIUM_QUALITY, 2); failure != 0)
        return Error { Error::Code::NotWave, src_strerror(failure), 0 };
    resampled.resize(std::size_t(job.output_frames_gen) * 2);
    return std::unique_ptr<WaveSource>(new WaveSource(std::move(resampled), outputRate, lengthMs));
}

WaveSource::WaveSource(std::vector<float> samples, int outputRate, std::uint32_t lengthMs)
    : m_samples(std::move(samples))
    , m_rate(static_cast<std::uint32_t>(outputRate))
    , m_lengthMs(lengthMs)
{
}

std::size_t WaveSource::render(float *out, std::size_t frames) noexcept
{
    const std::size_t total = m_samples.size() / 2;
    const std::size_t count = m_frame < total ? std::min(frames, total - m_frame) : 0;
    std::copy_n(m_samples.data() + 2 * m_frame, 2 * count, out);
    m_frame += count;
    if (m_frame >= total)
        m_atEnd = true;
    return count;
}

void WaveSource::seekMs(std::uint32_t positionMs) noexcept
{
    positionMs = std::min(positionMs, m_lengthMs);
    const std::size_t total = m_samples.size() / 2;
    m_baseMs = positionMs;
    m_baseFrame = std::min<std::size_t>(std::uint64_t(positionMs) * m_rate / 1000, total);
    m_frame = m_baseFrame;
    m_atEnd = false;
}

std::uint32_t WaveSource::positionMs() const noexcept
{
    if (m_atEnd)
        return m_lengthMs;
    const std::uint64_t ms = m_baseMs + std::uint64_t(m_frame - m_baseFrame) * 1000 / m_rate;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, m_lengthMs));
}

} // namespace tunedeck
