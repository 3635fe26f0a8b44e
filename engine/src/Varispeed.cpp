#include "Varispeed.h"

#include "Source.h"

#include <samplerate.h>

#include <algorithm>

namespace tunedeck {

Varispeed::Varispeed()
    : m_input(2 * kChunkFrames)
{
    int error = 0;
    // The fastest band-limited converter: a wave file at another speed needs no more.
    m_state = src_new(SRC_SINC_FASTEST, 2, &error);
}

Varispeed::~Varispeed()
{
    if (m_state)
        src_delete(m_state);
}

void Varispeed::reset() noexcept
{
    if (m_state)
        src_reset(m_state);
    m_inputAt = m_inputFrames = 0;
    m_sourceEnded = false;
}

std::size_t Varispeed::render(Source &source, float *out, std::size_t frames, double speed) noexcept
{
    if (!m_state)
        return source.render(out, frames);
    std::size_t written = 0;
    while (written < frames) {
        if (m_inputAt == m_inputFrames && !m_sourceEnded) {
            m_inputFrames = source.render(m_input.data(), kChunkFrames);
            m_inputAt = 0;
            // A source that has nothing now (a decoder behind) is asked again next block; one
            // at its end lets the converter give out what it still holds.
            if (m_inputFrames == 0 && !source.atEnd())
                break;
            m_sourceEnded = m_inputFrames < kChunkFrames && source.atEnd();
        }
        SRC_DATA data {};
        data.data_in = m_input.data() + 2 * m_inputAt;
        data.input_frames = static_cast<long>(m_inputFrames - m_inputAt);
        data.data_out = out + 2 * written;
        data.output_frames = static_cast<long>(frames - written);
        data.src_ratio = 1.0 / speed;
        data.end_of_input = m_sourceEnded ? 1 : 0;
        if (src_process(m_state, &data) != 0)
            break;
        m_inputAt += static_cast<std::size_t>(data.input_frames_used);
        written += static_cast<std::size_t>(data.output_frames_gen);
        if (data.output_frames_gen == 0 && data.input_frames_used == 0
            && (m_sourceEnded || m_inputAt < m_inputFrames))
            break;
    }
    return written;
}

} // namespace tunedeck
