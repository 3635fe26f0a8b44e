#include "Output.h"

#include <SDL.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace tunedeck {

namespace {

// About 11.6 ms at 44.1 kHz: short enough for a quick start and seek, long enough for a loaded
// machine.
constexpr int kSdlBlockFrames = 512;

// What the desktop's volume mixer shows for our streams.
constexpr const char *kApplicationName = "Tunedeck";
constexpr const char *kIconName = "tunedeck";

// SDL's audio subsystem, shared by every output of the process. It is started when the first
// output opens and started again when no output is open and the previous start has gone stale:
// a sound server that stopped leaves SDL's connection to it dead, and only a new start connects
// to the server that replaced it (or to another driver).
struct SdlAudio {
    std::mutex mutex;
    bool started = false;
    int openOutputs = 0;
    // Set when an output was lost or could not be opened.
    std::atomic<bool> stale { false };
};

SdlAudio &sdlAudio()
{
    static SdlAudio audio;
    return audio;
}

extern "C" void dropAlsaMessage(const char *, int, const char *, int, const char *, ...)
{ }

// Where no sound server answers, SDL tries ALSA, whose library prints each failure to stderr
// ("ALSA lib confmisc.c:855:(parse_card) cannot find card '0'", several lines a try, again for
// every file). What failed is said once with SDL's message; ALSA's own lines are dropped. The
// library is already in the process (FluidSynth needs it); it is not loaded for this.
void quietAlsa()
{
    void *alsa = dlopen("libasound.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!alsa)
        return;
    using Handler = void (*)(const char *, int, const char *, int, const char *, ...);
    if (auto set = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler")))
        set(&dropAlsaMessage);
    dlclose(alsa);
}

// Caller holds the mutex.
bool startSdlAudio(SdlAudio &audio, std::string &failure)
{
    if (audio.started)
        return true;
    static std::once_flag quieted;
    std::call_once(quieted, quietAlsa);
    // SDL would otherwise install its own SIGINT/SIGTERM handlers and swallow Ctrl+C.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, kApplicationName);
    // SDL has no hint for the icon; PulseAudio's client library (also PipeWire's Pulse layer)
    // takes extra properties from the environment. A value the user set is left alone.
    setenv("PULSE_PROP", (std::string("application.icon_name=") + kIconName).c_str(), 0);
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        failure = SDL_GetError();
        return false;
    }
    audio.started = true;
    audio.stale.store(false);
    return true;
}

// Caller holds the mutex.
void stopSdlAudio(SdlAudio &audio)
{
    if (!audio.started)
        return;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audio.started = false;
}

class SdlOutput final : public Output {
public:
    SdlOutput() = default;
    ~SdlOutput() override
    {
        stop();
        if (m_device != 0) {
            SdlAudio &audio = sdlAudio();
            std::lock_guard lock(audio.mutex);
            SDL_CloseAudioDevice(m_device);
            --audio.openOutputs;
        }
    }
    SdlOutput(const SdlOutput &) = delete;
    SdlOutput &operator=(const SdlOutput &) = delete;

    // Opens the default device paused; the callback gets this object's address. The caller
    // holds SDL's mutex and has started the subsystem.
    bool open(int sampleRate, std::string &failure)
    {
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_STREAM_NAME, kApplicationName);
        SDL_AudioSpec wanted {};
        wanted.freq = sampleRate;
        wanted.format = AUDIO_F32SYS;
        wanted.channels = 2;
        wanted.samples = kSdlBlockFrames;
        wanted.callback = &SdlOutput::callback;
        wanted.userdata = this;
        SDL_AudioSpec obtained {};
        // SDL converts rate, format and channels for us, so the synthesiser and decoded waves
        // keep one rate however often the output is opened again. No device name: the stream
        // goes to the default device and the sound server moves it when the default changes.
        m_device = SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, 0);
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
        // SDL reports a device that disappeared as stopped; ours is otherwise playing or paused
        // (SDL goes on feeding a paused one silence, so its loss shows too).
        const bool gone = SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED;
        if (gone)
            sdlAudio().stale.store(true);
        return gone;
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

Error noOutput(const std::string &failure)
{
    const char *driver = SDL_GetCurrentAudioDriver();
    std::string detail = "SDL audio";
    if (driver)
        detail += std::string(" (") + driver + ")";
    return Error { Error::Code::NoOutput, detail + ": " + failure, 0 };
}

} // namespace

Result<std::unique_ptr<Output>> openSdlOutput(int sampleRate)
{
    SdlAudio &audio = sdlAudio();
    std::lock_guard lock(audio.mutex);
    if (audio.openOutputs == 0 && audio.stale.load())
        stopSdlAudio(audio);
    const bool startedNow = !audio.started;
    std::string failure;
    if (!startSdlAudio(audio, failure)) {
        audio.stale.store(true);
        return noOutput(failure);
    }
    auto output = std::make_unique<SdlOutput>();
    bool opened = output->open(sampleRate, failure);
    if (!opened && !startedNow && audio.openOutputs == 0) {
        // A start made before the sound server went away: start again and try once more.
        stopSdlAudio(audio);
        if (!startSdlAudio(audio, failure)) {
            audio.stale.store(true);
            return noOutput(failure);
        }
        opened = output->open(sampleRate, failure);
    }
    if (!opened) {
        audio.stale.store(true);
        return noOutput(failure);
    }
    ++audio.openOutputs;
    return std::unique_ptr<Output>(std::move(output));
}

} // namespace tunedeck
