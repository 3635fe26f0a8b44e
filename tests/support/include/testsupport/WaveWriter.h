#pragma once

#include <cstdint>
#include <filesystem>

namespace testsupport {

// A steady sine tone in every channel of a wave file; with two channels the right one can be
// quieter, so a swap of sides shows.
struct Tone {
    int rate = 44100;
    int channels = 1;
    std::int64_t frames = 44100;
    double hz = 440.0;
    double level = 0.3; // of full scale
    double rightLevel = 1.0; // the second channel's level relative to `level`
    int subtype = 0; // libsndfile's SF_FORMAT_PCM_16, SF_FORMAT_FLOAT, ...; 0 is 16-bit PCM
    int container = 0; // libsndfile's SF_FORMAT_RF64, ...; 0 is a RIFF wave (SF_FORMAT_WAV)
};

// The frames `ms` milliseconds take at `rate`.
constexpr std::int64_t framesOf(int rate, std::uint32_t ms)
{
    return std::int64_t(rate) * ms / 1000;
}

// Writes `tone` as a wave file through libsndfile; false when it cannot be written.
bool writeTone(const std::filesystem::path &path, const Tone &tone);

} // namespace testsupport
