#pragma once

#include "Source.h"

#include <filesystem>
#include <memory>
#include <vector>

struct SRC_STATE_tag;

namespace tunedeck {

// What a wave file holds, read from its header by libsndfile.
struct WaveFacts {
    long long frames = 0;
    int sampleRate = 0;
    int channels = 0;
    std::uint32_t lengthMs = 0; // frames / rate, truncated to whole ms
};

// Reads the header of a wave file (any format libsndfile decodes). Fails with NotWave, naming
// libsndfile's reason.
[[nodiscard]] Result<WaveFacts> readWaveFacts(const std::filesystem::path &path);

// A wave file decoded completely when built (on the owner's thread) into interleaved stereo at
// its own rate: mono is spread to both sides, more than two channels are mixed down. The render
// thread converts other rates to the output's as it plays, with a band-limited sinc resampler
// whose state is allocated here, so rendering never reads a file or allocates.
class WaveSource final : public Source {
public:
    [[nodiscard]] static Result<std::unique_ptr<WaveSource>> decode(
        const std::filesystem::path &path, int outputRate);

    MediaKind kind() const override { return MediaKind::Wave; }
    std::uint32_t lengthMs() const override { return m_lengthMs; }
    std::size_t render(float *out, std::size_t frames) noexcept override;
    void seekMs(std::uint32_t positionMs) noexcept override;
    std::uint32_t positionMs() const noexcept override;
    bool atEnd() const noexcept override { return m_atEnd; }
    bool failed() const noexcept override { return m_failed; }

private:
    struct ResamplerDeleter {
        void operator()(SRC_STATE_tag *state) const;
    };

    WaveSource(std::vector<float> samples, int fileRate, int outputRate, std::uint32_t lengthMs);

    std::vector<float> m_samples; // interleaved stereo at m_fileRate
    std::uint32_t m_fileRate;
    std::uint32_t m_outputRate;
    std::uint32_t m_lengthMs;
    std::unique_ptr<SRC_STATE_tag, ResamplerDeleter> m_resampler; // null when the rates agree

    // Render thread state.
    std::size_t m_inFrame = 0; // next frame of m_samples to use
    std::uint64_t m_outFrames = 0; // frames rendered since the last seek
    std::uint32_t m_baseMs = 0; // the last seek target
    bool m_atEnd = false;
    bool m_failed = false;
};

} // namespace tunedeck
