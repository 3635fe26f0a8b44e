#include "tunedeck/Synth.h"

#include "tunedeck/MidiFile.h"

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
    // Samples are read when a preset is first chosen, not with the soundfont: Synth::preload
    // reads those a song chooses before it plays, so the render thread never reads them.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    return settings;
}

// Creates a synthesiser and loads `soundfont` into it: its presets, none of its samples.
// FluidSynth's sample cache shares each sample another live synthesiser of this process has read
// already.
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

} // namespace

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
    auto soundfont = findSoundfont();
    if (!soundfont)
        return soundfont.error();
    auto made = makeLoadedSynth(soundfont.value(), sampleRate);
    if (!made)
        return made.error();
    // Loading chose a preset on every channel and read its samples; no song has asked for them.
    for (int channel = 0; channel < fluid_synth_count_midi_channels(made.value().second); ++channel)
        fluid_synth_unset_program(made.value().second, channel);
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

void Synth::keep(int channel, std::vector<PresetId> &kept)
{
    fluid_preset_t *preset = fluid_synth_get_channel_preset(m_synth, channel);
    if (!preset)
        return;
    const PresetId id { fluid_sfont_get_id(fluid_preset_get_sfont(preset)),
        fluid_preset_get_banknum(preset), fluid_preset_get_num(preset) };
    if (std::find(kept.begin(), kept.end(), id) != kept.end())
        return;
    fluid_synth_pin_preset(m_synth, id.soundfont, id.bank, id.program);
    kept.push_back(id);
}

void Synth::preload(const MidiFile &song, const std::atomic<bool> *cancel)
{
    // The song's bank selects, program changes and system exclusive messages are played here in
    // order, without notes: whatever preset FluidSynth chooses for each (its fall-backs for a
    // missing one, drum channels, resets included) is then the one it chooses while the song
    // plays or a seek replays them. Each is pinned as soon as it is chosen, so choosing the next
    // one on the same channel does not free it again.
    std::vector<PresetId> kept;
    const int channels = std::min(fluid_synth_count_midi_channels(m_synth), 16);
    const auto keepAll = [&] {
        for (int channel = 0; channel < channels; ++channel)
            keep(channel, kept);
    };
    fluid_synth_system_reset(m_synth);
    keepAll(); // what every seek's reset chooses
    std::size_t count = 0;
    for (const MidiEvent &event : song.events()) {
        if (cancel && (++count & 0xFFFF) == 0 && cancel->load(std::memory_order_relaxed))
            break;
        const int channel = event.status & 0x0F;
        switch (event.status & 0xF0) {
        case 0xB0:
            if (event.data1() == 0 || event.data1() == 32)
                fluid_synth_cc(m_synth, channel, event.data1(), event.data2());
            continue;
        case 0xC0:
            fluid_synth_program_change(m_synth, channel, event.data1());
            keep(channel, kept);
            continue;
        default:
            break;
        }
        if (event.status != 0xF0)
            continue;
        const auto payload = song.payloadOf(event);
        int length = static_cast<int>(payload.size());
        if (length > 0 && payload[std::size_t(length) - 1] == 0xF7)
            --length;
        if (length > 0) {
            fluid_synth_sysex(m_synth, reinterpret_cast<const char *>(payload.data()), length,
                nullptr, nullptr, nullptr, 0);
            keepAll();
        }
    }
    fluid_synth_system_reset(m_synth);
    // The last song's presets stay until now, so the samples both use were not read again.
    for (const PresetId &id : m_kept) {
        if (std::find(kept.begin(), kept.end(), id) == kept.end())
            fluid_synth_unpin_preset(m_synth, id.soundfont, id.bank, id.program);
    }
    m_kept = std::move(kept);
}

Synth::~Synth()
{
    delete_fluid_synth(m_synth);
    delete_fluid_settings(m_settings);
}

} // namespace tunedeck
