#pragma once

#include <cstddef>
#include <vector>

struct SRC_STATE_tag;

namespace tunedeck {

class Source;

// Plays a source faster or slower, speed and pitch together, as a tape or a turntable does:
// libsamplerate reads `speed` times as many frames from the source as it writes. Built on the
// owner's thread; render() and reset() run on the render thread and never allocate.
class Varispeed {
public:
    Varispeed();
    ~Varispeed();
    Varispeed(const Varispeed &) = delete;
    Varispeed &operator=(const Varispeed &) = delete;

    // Writes up to `frames` stereo frames of `source` at `speed` (0.25..4); fewer when the
    // source has no more to give now (its end, or a decoder that is behind).
    std::size_t render(Source &source, float *out, std::size_t frames, double speed) noexcept;
    // Forgets what it holds of the source (after a seek or a new source).
    void reset() noexcept;

private:
    // Source frames read at a time: small, so the source's position moves on smoothly.
    static constexpr std::size_t kChunkFrames = 256;

    SRC_STATE_tag *m_state = nullptr;
    std::vector<float> m_input;
    std::size_t m_inputAt = 0; // first frame of m_input not yet converted ...
    std::size_t m_inputFrames = 0; // ... of this many read
    bool m_sourceEnded = false; // the source gave fewer frames than asked
};

} // namespace tunedeck
