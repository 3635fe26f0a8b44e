#pragma once

#include "tunedeck/Result.h"

#include <array>
#include <atomic>
#include <bitset>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_hashtable_t fluid_settings_t;

namespace tunedeck {

class MidiFile;

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

// The soundfonts findSoundfonts() gives from now on, before $TUNEDECK_SOUNDFONT, whatever their
// names hold (':' included); none: as before.
void chooseSoundfonts(std::vector<std::filesystem::path> files);

// One sentence telling people what to install when no soundfont is found.
const char *soundfontAdvice() noexcept;

// FluidSynth's master gain (0 to 10, its default 0.2) for every synthesiser created afterwards.
// Values outside the range are clamped.
void setSynthGain(double gain) noexcept;

// A FluidSynth synthesiser with the General MIDI soundfont's presets loaded. A preset's zones,
// instruments and samples are loaded when preload() is given a song that chooses it, and freed
// when a later preload()'s song does not; a sample another Synth of the process holds is shared,
// not read again. Not thread-safe: one thread at a time renders, sends events or preloads.
class Synth {
public:
    struct Fonts; // the soundfonts loaded with only the chosen presets' zones

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

    // Notes on melodic channels may be moved by up to this many semitones while the song plays;
    // preload() reads the samples for them too.
    static constexpr int kKeyShiftRoom = 12;

    // Loads the zones and reads the samples of every preset `song` chooses on any channel (bank
    // selects, program changes, drum channels and resets by system exclusive messages, as
    // FluidSynth resolves them) and of those a reset chooses, and keeps them until the next
    // preload(); then frees the samples of the previous song's presets this one does not choose.
    // Of each preset, only the zones the song's notes reach are loaded (its keys, moved by up to
    // kKeyShiftRoom on melodic channels, and its velocities), so a chosen preset that plays no
    // note costs nothing. Afterwards playing the song, or seeking in it, reads no file. Leaves
    // every channel as a reset does. Stops early (keeping what it read) when `cancel` becomes true.
    // With `heldElsewhere` another Synth (preloaded with the same song) holds the samples already,
    // so none are read, and the previous song's go at once. With `onlyKeyShift`, melodic notes
    // are loaded moved by just that many semitones, which reads far less.
    void preload(const MidiFile &song, const std::atomic<bool> *cancel = nullptr,
        bool heldElsewhere = false, std::optional<int> onlyKeyShift = std::nullopt);
    // The key shift nearest to `semitones` that the last preload() loaded notes for: a song plays
    // moved by `semitones` only where that is `semitones` itself.
    int nearestKeyShift(int semitones) const noexcept
    {
        return semitones < m_shiftLo ? m_shiftLo : semitones > m_shiftHi ? m_shiftHi : semitones;
    }

private:
    struct PresetId {
        int soundfont = 0;
        int bank = 0;
        int program = 0;
        bool operator==(const PresetId &) const = default;
    };
    // For each key, the velocities a song plays it with (bit n: velocity n).
    using NoteSet = std::array<std::bitset<128>, 128>;

    // Pins the preset chosen on `channel` unless `kept` holds it already; its index in `kept`, or
    // -1 when the channel has none.
    int keep(int channel, std::vector<PresetId> &kept);
    // The bank a song selects `id` by (FluidSynth pins and unpins by it): the preset's own bank
    // moved by its font's bank offset (a song's own bank is moved up, by 1 unless it says).
    int selectedBank(const PresetId &id) const;

    // Loads again, with zones for just the presets in `kept` and of those only the ones the
    // notes `notes` holds for each reach, each soundfont whose zones change; the previous set
    // stays until the new one is read, unless `heldElsewhere`.
    void reloadPartial(
        const std::vector<PresetId> &kept, const std::vector<NoteSet> &notes, bool heldElsewhere);

    Synth(fluid_settings_t *settings, fluid_synth_t *synth, int sampleRate,
        std::unique_ptr<Fonts> fonts);

    static constexpr int kBlockFrames = 64; // FluidSynth's internal block (FLUID_BUFSIZE)

    fluid_settings_t *m_settings;
    fluid_synth_t *m_synth;
    int m_sampleRate;
    std::uint64_t m_framesWritten = 0; // modulo kBlockFrames: where in its block it stands
    float m_scratch[2 * kBlockFrames] = {}; // for dropBuffered(), so it never allocates
    std::vector<PresetId> m_kept; // pinned by the last preload()
    int m_shiftLo = -kKeyShiftRoom; // the key shifts the last preload() loaded notes for
    int m_shiftHi = kKeyShiftRoom;
    std::unique_ptr<Fonts> m_fonts;
};

} // namespace tunedeck
