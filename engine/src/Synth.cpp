#include "tunedeck/Synth.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>

namespace tunedeck {

namespace {

constexpr const char *kDefaultSoundfonts[] = {
    "/usr/share/sounds/sf2/default-GM.sf2",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",
    "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf3/FluidR3_GM.sf3",
};

bool isReadableFile(const std::filesystem::path &path)
{
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

void quietFluidSynth()
{
    // FluidSynth prints warnings about soundfont quirks to stderr; nothing is logged in normal use.
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : { FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG })
            fluid_set_log_function(level, nullptr, nullptr);
    });
}

std::atomic<double> g_gain { 0.2 }; // FluidSynth's own default

fluid_settings_t *makeSettings(int sampleRate)
{
    fluid_settings_t *settings = new_fluid_settings();
    if (!settings)
        return nullptr;
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(settings, "synth.gain", g_gain.load());
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    return settings;
}

// Creates a synthesiser and loads `soundfont` into it. FluidSynth's sample cache shares the sample
// data of a file already loaded by another live synthesiser in this process.
Result<std::pair<fluid_settings_t *, fluid_synth_t *>> makeLoadedSynth(
    const std::filesystem::path &soundfont, int sampleRate)
{
    fluid_settings_t *settings = makeSettings(sampleRate);
    fluid_synth_t *synth = settings ? new_fluid_synth(settings) : nullptr;
    if (!synth) {
        if (settings)
            delete_fluid_settings(settings);
        return Error { Error::Code::Synth, "FluidSynth cannot create a synthesiser", 0 };
    }
    if (fluid_synth_sfload(synth, soundfont.c_str(), 1) == FLUID_FAILED) {
        delete_fluid_synth(synth);
        delete_fluid_settings(settings);
        return Error { Error::Code::NoSoundfont, "cannot load " + soundfont.string(), 0 };
    }
    return std::pair { settings, synth };
}

// Keeps the first soundfont loaded for the life of the process, so every later synthesiser finds
// its samples in FluidSynth's cache instead of reading the file again.
Result<std::filesystem::path> keepSoundfontLoaded()
{
    static std::mutex mutex;
    static fluid_synth_t *keeper = nullptr;
    static std::filesystem::path keptPath;
    std::lock_guard lock(mutex);
    auto found = findSoundfont();
    if (!found)
        return found.error();
    if (keeper && keptPath == found.value())
        return keptPath;
    auto made = makeLoadedSynth(found.value(), 44100);
    if (!made)
        return made.error();
    // The previous keeper (a different $TUNEDECK_SOUNDFONT) is left alive: a synthesiser built
    // from it may still be playing, and the process holds at most a few.
    keeper = made.value().second;
    keptPath = found.value();
    return keptPath;
}

} // namespace

// FluidSynth reads soundfont samples with OpenMP. libgomp is not built for ThreadSanitizer, so
// the bookkeeping of its thread pool would be reported as races in every program that loads a
// soundfont; the sanitizer's runtime asks for this list at start and ignores that library.
extern "C" const char *__tsan_default_suppressions()
{
    return "called_from_lib:libgomp.so.1\n";
}

Result<std::filesystem::path> findSoundfont()
{
    if (const char *chosen = std::getenv("TUNEDECK_SOUNDFONT"); chosen && *chosen) {
        if (isReadableFile(chosen))
            return std::filesystem::path(chosen);
        return Error { Error::Code::NoSoundfont,
            std::string("looked for $TUNEDECK_SOUNDFONT = ") + chosen
                + ", which is not a readable file",
            0 };
    }
    std::string tried = "looked for $TUNEDECK_SOUNDFONT (not set), then ";
    bool first = true;
    for (const char *candidate : kDefaultSoundfonts) {
        if (isReadableFile(candidate))
            return std::filesystem::path(candidate);
        tried += first ? "" : ", ";
        tried += candidate;
        first = false;
    }
    return Error { Error::Code::NoSoundfont, tried, 0 };
}

void setSynthGain(double gain) noexcept
{
    g_gain.store(std::clamp(gain, 0.0, 10.0));
}

const char *soundfontAdvice() noexcept
{
    return "Install one (on Debian: fluid-soundfont-gm or timgm6mb-soundfont), or name a "
           "soundfont file in TUNEDECK_SOUNDFONT.";
}

Result<std::unique_ptr<Synth>> Synth::create(int sampleRate)
{
    quietFluidSynth();
    auto soundfont = keepSoundfontLoaded();
    if (!soundfont)
        return soundfont.error();
    auto made = makeLoadedSynth(soundfont.value(), sampleRate);
    if (!made)
        return made.error();
    return std::unique_ptr<Synth>(new Synth(made.value().first, made.value().second, sampleRate));
}

Synth::Synth(fluid_settings_t *settings, fluid_synth_t *synth, int sampleRate)
    : m_settings(settings)
    , m_synth(synth)
    , m_sampleRate(sampleRate)
{ }

bool Synth::write(float *out, int frames) noexcept
{
    m_framesWritten += std::uint64_t(frames);
    return fluid_synth_write_float(m_synth, frames, out, 0, 2, out, 1, 2) == FLUID_OK;
}

void Synth::dropBuffered() noexcept
{
    const int buffered = int((kBlockFrames - m_framesWritten % kBlockFrames) % kBlockFrames);
    if (buffered > 0)
        static_cast<void>(write(m_scratch, buffered));
}

Synth::~Synth()
{
    delete_fluid_synth(m_synth);
    delete_fluid_settings(m_settings);
}

} // namespace tunedeck
