#pragma once

#include "Source.h"

#include <filesystem>
#include <memory>
#include <vector>

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
// the output's rate: mono is spread to both sides, more than two channels are mixed down, other
// rates go through a band-limited sinc resampler. Rendering is then a copy.
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

private:
    WaveSource(std::vector<float> samples, int outputRate, std::uint32_t lengthMs);

    std::vector<float> m_samples; // interleaved stereo at m_rate
    std::uint32_t m_rate;
    std::uint32_t m_lengthMs;

    // Render thread state.
    std::size_t m_frame = 0;
    std::size_t m_baseFrame = 0;
    std::uint32_t m_baseMs = 0;
    bool m_atEnd = false;
};

} // namespace tunedeck
