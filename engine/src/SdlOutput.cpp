#include "Output.h"

#include <SDL.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace tunedeck {

namespace {

// About 11.6 ms at 44.1 kHz: short enough for a quick start and seek, long enough for a loaded
// machine.
constexpr int kSdlBlockFrames = 512;

// SDL's audio subsystem is started once per process and left running until exit. SDL would
// otherwise install its own SIGINT/SIGTERM handlers and swallow Ctrl+C.
bool initSdlAudio(std::string &failure)
{
    static std::once_flag once;
    static bool ok = false;
    static std::string error;
    std::call_once(once, [] {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
        if (!ok)
            error = SDL_GetError();
    });
    failure = error;
    return ok;
}

class SdlOutput final : public Output {
public:
    SdlOutput() = default;
    ~SdlOutput() override
    {
        stop();
        if (m_device != 0)
            SDL_CloseAudioDevice(m_device);
    }
    SdlOutput(const SdlOutput &) = delete;
    SdlOutput &operator=(const SdlOutput &) = delete;

    // Opens the default device paused; the callback gets this object's address.
    bool open(int sampleRate, std::string &failure)
    {
        SDL_AudioSpec wanted {};
        wanted.freq = sampleRate;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = kSdlBlockFrames;
        wanted.callback = &SdlOutput::callback;
        wanted.userdata = this;
        SDL_AudioSpec obtained {};
        // SDL converts format and channels for us; a different rate is taken as offered, since
        // the synthesiser and the wave resampler follow the output's rate.
        m_device
            = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (m_device == 0) {
            failure = SDL_GetError();
            return false;
        }
        m_sampleRate = obtained.freq;
        return true;
    }

    int sampleRate() const override { return m_sampleRate; }

    void start(RenderFunction render, void *context) override
    {
        stop();
        // The device is paused, so the callback does not run while these change.
        m_render = render;
        m_context = context;
        SDL_PauseAudioDevice(m_device, 0);
        m_running.store(true);
    }

    void stop() override
    {
        if (!m_running.load())
            return;
        // Pausing and then taking SDL's device lock once means the callback has returned and
        // will not run again.
        SDL_PauseAudioDevice(m_device, 1);
        SDL_LockAudioDevice(m_device);
        SDL_UnlockAudioDevice(m_device);
        m_running.store(false);
    }

    bool lost() const override
    {
        // SDL reports a device that disappeared as stopped; ours is otherwise always playing.
        return m_running.load() && SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED;
    }

private:
    // On SDL's audio thread.
    static void callback(void *userdata, Uint8 *stream, int length)
    {
        auto *self = static_cast<SdlOutput *>(userdata);
        const auto frames = static_cast<std::size_t>(length) / (2 * sizeof(float));
        if (self->m_render)
            self->m_render(self->m_context, reinterpret_cast<float *>(stream), frames);
        else
            std::memset(stream, 0, static_cast<std::size_t>(length));
    }

    SDL_AudioDeviceID m_device = 0;
    int m_sampleRate = 0;
    RenderFunction m_render = nullptr;
    void *m_context = nullptr;
    std::atomic<bool> m_running { false };
};

} // namespace

Result<std::unique_ptr<Output>> openSdlOutput(int sampleRate)
{
    std::string failure;
    if (!initSdlAudio(failure))
        return Error { Error::Code::NoOutput, "SDL audio: " + failure, 0 };
    auto output = std::make_unique<SdlOutput>();
    if (!output->open(sampleRate, failure))
        return Error { Error::Code::NoOutput, "SDL audio: " + failure, 0 };
    return std::unique_ptr<Output>(std::move(output));
}

} // namespace tunedeck
