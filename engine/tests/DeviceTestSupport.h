#pragma once

#include "tunedeck/Device.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Helpers shared by the engine's device tests: a listener that tests can wait on, an offline
// render loop, and a run on the sound output.
namespace devicetest {

inline constexpr std::size_t kBlockFrames = 1024;

// Collects notices from the engine's notice thread; tests wait on it instead of sleeping.
class NoticeCatcher {
public:
    tunedeck::Device::Listener listener()
    {
        return [this](tunedeck::Notice notice) {
            std::lock_guard lock(m_mutex);
            m_notices.push_back(notice);
            m_changed.notify_all();
        };
    }

    // The `index`-th notice, waiting up to `timeout` for it to arrive.
    std::optional<tunedeck::Notice> waitFor(
        std::size_t index, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [&] { return m_notices.size() > index; }))
            return std::nullopt;
        return m_notices[index];
    }

    std::size_t count()
    {
        std::lock_guard lock(m_mutex);
        return m_notices.size();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<tunedeck::Notice> m_notices;
};

// Plays an offline device from where it stands to the end of its file; returns the frames that
// came from the file and appends the sound to `sound` when given. Gives up after `limitFrames`.
inline std::size_t renderToEnd(tunedeck::Device &device, std::vector<float> *sound = nullptr,
    std::size_t limitFrames = 44100 * 600)
{
    std::vector<float> block(kBlockFrames * 2);
    std::size_t total = 0;
    device.play();
    while (device.isPlaying() && total < limitFrames) {
        const std::size_t frames = device.pump(block);
        total += frames;
        if (sound)
            sound->insert(sound->end(), block.begin(), block.begin() + std::ptrdiff_t(2 * frames));
    }
    return total;
}

// Renders `frames` frames of whatever the device does now (playing or not).
inline std::vector<float> pumpFrames(tunedeck::Device &device, std::size_t frames)
{
    std::vector<float> sound(frames * 2);
    device.pump(sound);
    return sound;
}

inline float peak(std::span<const float> sound)
{
    float result = 0.0f;
    for (float sample : sound)
        result = std::max(result, sample < 0 ? -sample : sample);
    return result;
}

// Every byte of `path` (none when it cannot be read).
inline std::vector<std::uint8_t> fileBytes(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

struct Played {
    std::vector<float> sound;
    tunedeck::SongText text;
};

// `song` played to its end on the sound output, through SDL's driver that writes the sound to a
// file (`raw`, 32-bit floats as the device asks for them; no sound when the driver wrote none);
// `opening` runs right before open(), `playing` right after play(), `ended` once the end has
// been told of.
inline Played playOnTheOutput(const std::filesystem::path &song, const std::filesystem::path &raw,
    const std::function<void(tunedeck::Device &)> &playing = {},
    const std::function<void(tunedeck::Device &)> &ended = {},
    const std::function<void(tunedeck::Device &)> &opening = {})
{
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", raw.c_str(), 1);
    Played played;
    {
        NoticeCatcher notices;
        tunedeck::Device device(notices.listener(), tunedeck::OutputMode::Sdl);
        if (opening)
            opening(device);
        EXPECT_TRUE(device.open(song).ok()) << song;
        device.play();
        if (playing)
            playing(device);
        const auto finished = notices.waitFor(0);
        EXPECT_TRUE(finished && finished->kind == tunedeck::Notice::Kind::Finished);
        played.text = device.text();
        if (ended)
            ended(device);
    }
    ::unsetenv("SDL_DISKAUDIOFILE");
    ::unsetenv("SDL_AUDIODRIVER");
    const auto bytes = fileBytes(raw);
    played.sound.resize(bytes.size() / sizeof(float));
    std::memcpy(played.sound.data(), bytes.data(), played.sound.size() * sizeof(float));
    return played;
}

// The shared real-media folder, or empty when the tests run without it.
inline std::filesystem::path mediaDir()
{
    const char *dir = std::getenv("TUNEDECK_MEDIA_DIR");
    return dir ? std::filesystem::path(dir) : std::filesystem::path();
}

} // namespace devicetest
