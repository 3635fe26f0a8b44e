#include "testsupport/WaveWriter.h"

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace testsupport {

bool writeTone(const std::filesystem::path &path, const Tone &tone)
{
    SF_INFO info {};
    info.samplerate = tone.rate;
    info.channels = tone.channels;
    info.format = (tone.container != 0 ? tone.container : SF_FORMAT_WAV)
        | (tone.subtype != 0 ? tone.subtype : SF_FORMAT_PCM_16);
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return false;
    const auto channels = std::size_t(tone.channels);
    std::vector<float> samples(std::size_t(tone.frames) * channels);
    for (std::size_t i = 0; i < std::size_t(tone.frames); ++i) {
        const double value
            = tone.level * std::sin(2 * std::numbers::pi * tone.hz * double(i) / tone.rate);
        for (std::size_t c = 0; c < channels; ++c)
            samples[i * channels + c] = float(c == 1 ? value * tone.rightLevel : value);
    }
    const bool written = sf_writef_float(file, samples.data(), tone.frames) == tone.frames;
    return sf_close(file) == 0 && written;
}

} // namespace testsupport
