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
        return Error { Error::Code::NotWave, "the header gives no usable rate or channel count",
            0 };
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
    std::vector<float> chunk(
        static_cast<std::size_t>(kDecodeChunkFrames) * std::size_t(info.channels));
    std::size_t decoded = 0;
    while (decoded < frames) {
        const sf_count_t wanted
            = std::min<sf_count_t>(kDecodeChunkFrames, sf_count_t(frames - decoded));
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
    auto source = std::unique_ptr<WaveSource>(
        new WaveSource(std::move(stereo), info.samplerate, outputRate, lengthMs));
    if (info.samplerate != outputRate) {
        int failure = 0;
        source->m_resampler.reset(src_new(SRC_SINC_MEDIUM_QUALITY, 2, &failure));
        if (!source->m_resampler)
            return Error { Error::Code::NotWave, src_strerror(failure), 0 };
    }
    return source;
}

void WaveSource::ResamplerDeleter::operator()(SRC_STATE_tag *state) const
{
    src_delete(state);
}

WaveSource::WaveSource(
    std::vector<float> samples, int fileRate, int outputRate, std::uint32_t lengthMs)
    : m_samples(std::move(samples))
    , m_fileRate(static_cast<std::uint32_t>(fileRate))
    , m_outputRate(static_cast<std::uint32_t>(outputRate))
    , m_lengthMs(lengthMs)
{ }

std::size_t WaveSource::render(float *out, std::size_t frames) noexcept
{
    const std::size_t total = m_samples.size() / 2;
    std::size_t count = 0;
    if (!m_resampler) {
        count = m_inFrame < total ? std::min(frames, total - m_inFrame) : 0;
        std::copy_n(m_samples.data() + 2 * m_inFrame, 2 * count, out);
        m_inFrame += count;
        if (m_inFrame >= total)
            m_atEnd = true;
    } else {
        // All that is left goes in each time: the converter takes what it needs, and flushes
        // its last frames once the input is used up.
        while (count < frames) {
            SRC_DATA job {};
            job.data_in = m_samples.data() + 2 * m_inFrame;
            job.input_frames = static_cast<long>(total - m_inFrame);
            job.data_out = out + 2 * count;
            job.output_frames = static_cast<long>(frames - count);
            job.src_ratio = double(m_outputRate) / double(m_fileRate);
            job.end_of_input = 1;
            if (src_process(m_resampler.get(), &job) != 0) {
                m_failed = true;
                break;
            }
            m_inFrame += std::size_t(job.input_frames_used);
            count += std::size_t(job.output_frames_gen);
            if (job.output_frames_gen == 0 && job.input_frames_used == 0) {
                m_atEnd = true;
                break;
            }
        }
    }
    m_outFrames += count;
    return count;
}

void WaveSource::seekMs(std::uint32_t positionMs) noexcept
{
    positionMs = std::min(positionMs, m_lengthMs);
    const std::size_t total = m_samples.size() / 2;
    m_baseMs = positionMs;
    m_inFrame = std::min<std::size_t>(std::uint64_t(positionMs) * m_fileRate / 1000, total);
    m_outFrames = 0;
    m_atEnd = false;
    if (m_resampler)
        src_reset(m_resampler.get());
}

std::uint32_t WaveSource::positionMs() const noexcept
{
    if (m_atEnd)
        return m_lengthMs;
    const std::uint64_t ms = m_baseMs + m_outFrames * 1000 / m_outputRate;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(ms, m_lengthMs));
}

} // namespace tunedeck
