#pragma once

#include "tunedeck/Result.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_hashtable_t fluid_settings_t;

namespace tunedeck {

// The General MIDI soundfonts to use, the first winning where they overlap: the files
// $TUNEDECK_SOUNDFONT names, separated by ':', when it is set (and then only those); else
// /usr/share/sounds/sf2/default-GM.sf2, else Debian's TimGM6mb and FluidR3 files, else the first
// .sf2 or .sf3 file (by name) in sounds/sf2, sounds/sf3 or soundfonts under $XDG_DATA_HOME
// (~/.local/share) and then each of $XDG_DATA_DIRS (/usr/local/share:/usr/share). Fails with
// NoSoundfont whose detail names every place looked in, in order ("looked for ...").
[[nodiscard]] Result<std::vector<std::filesystem::path>> findSoundfonts();
// The same with `fixedPlaces` looked in instead of the Debian files, before the XDG folders.
[[nodiscard]] Result<std::vector<std::filesystem::path>> findSoundfonts(
    std::span<const char *const> fixedPlaces);
// The first of findSoundfonts().
[[nodiscard]] Result<std::filesystem::path> findSoundfont();

// One sentence telling people what to install when no soundfont is found.
const char *soundfontAdvice() noexcept;

// FluidSynth's master gain (0 to 10, its default 0.2) for every synthesiser created afterwards.
// Values outside the range are clamped.
void setSynthGain(double gain) noexcept;

// A FluidSynth synthesiser with the General MIDI soundfont loaded. The soundfont's samples are
// read from disk once per process and shared by every Synth (one is kept for the process's
// lifetime). Not thread-safe: one thread at a time renders and sends events.
class Synth {
public:
    // Fails with NoSoundfont when no soundfont exists or it cannot be loaded, Synth when
    // FluidSynth refuses to start.
    [[nodiscard]] static Result<std::unique_ptr<Synth>> create(int sampleRate);
    ~Synth();
    Synth(const Synth &) = delete;
    Synth &operator=(const Synth &) = delete;

    fluid_synth_t *handle() const { return m_synth; }
    int sampleRate() const { return m_sampleRate; }

    // Renders `frames` interleaved stereo frames into `out`; false when FluidSynth fails.
    // FluidSynth computes sound in blocks of 64 frames and hands out the unread rest of a block
    // on the next call, so an event sent between calls takes effect at the next block boundary.
    [[nodiscard]] bool write(float *out, int frames) noexcept;
    // Loads a soundfont held in memory (a whole SoundFont 2 file) over the others, its bank
    // numbers moved up by `bankOffset`; the bytes are read here and not kept. Returns its id
    // for removeBank(); fails with NoSoundfont when FluidSynth cannot read it.
    [[nodiscard]] Result<int> addBank(std::span<const std::uint8_t> bank, int bankOffset);
    void removeBank(int id);
    // Throws away the unread rest of the current block: sound computed before a seek or a cut
    // must not be heard after it.
    void dropBuffered() noexcept;

private:
    Synth(fluid_settings_t *settings, fluid_synth_t *synth, int sampleRate);

    static constexpr int kBlockFrames = 64; // FluidSynth's internal block (FLUID_BUFSIZE)

    fluid_settings_t *m_settings;
    fluid_synth_t *m_synth;
    int m_sampleRate;
    std::uint64_t m_framesWritten = 0; // modulo kBlockFrames: where in its block it stands
    float m_scratch[2 * kBlockFrames] = {}; // for dropBuffered(), so it never allocates
};

} // namespace tunedeck
