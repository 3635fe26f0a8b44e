#include "tunedeck/Synth.h"
#include "tunedeck/FileKind.h"

#include "SoundfontPresets.h"
#include "tunedeck/MidiFile.h"

#include <fcntl.h>
#include <fluidsynth.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tunedeck {

namespace {

constexpr int kPercussionBank = 128; // where a soundfont keeps its drum kits

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
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), R_OK) == 0;
}

// The folders of the XDG data directories where soundfonts are kept, in the order searched:
// $XDG_DATA_HOME (else ~/.local/share), then each of $XDG_DATA_DIRS (else /usr/local/share and
// /usr/share).
std::vector<std::filesystem::path> xdgSoundfontFolders()
{
    std::vector<std::filesystem::path> bases;
    const char *home = std::getenv("XDG_DATA_HOME");
    if (home && *home == '/')
        bases.emplace_back(home);
    else if (const char *user = std::getenv("HOME"); user && *user == '/')
        bases.push_back(std::filesystem::path(user) / ".local/share");
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    const std::string_view list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    for (std::size_t at = 0; at <= list.size();) {
        const std::size_t end = std::min(list.find(':', at), list.size());
        if (list.substr(at, end - at).starts_with('/'))
            bases.emplace_back(list.substr(at, end - at));
        at = end + 1;
    }
    std::vector<std::filesystem::path> folders;
    for (const auto &base : bases) {
        for (const char *sub : { "sounds/sf2", "sounds/sf3", "soundfonts" })
            folders.push_back(base / sub);
    }
    return folders;
}

// Whether `path` begins as a soundfont FluidSynth has a loader for: a RIFF file of the form
// "sfbk" (SoundFont 2 and 3) or "DLS ". Any other file would be tried by each of its loaders in
// turn, and the DLS one complains about it on stderr. With `whole`, also whether the file holds
// all its RIFF header says it does (a download cut short does not). Never waits for a pipe's
// writer.
bool isRiffSoundfont(const std::filesystem::path &path, bool whole = false)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    unsigned char head[12] = {};
    struct stat status { };
    const bool read = ::read(fd, head, sizeof head) == ssize_t(sizeof head);
    const bool sized = ::fstat(fd, &status) == 0;
    ::close(fd);
    if (!read || std::memcmp(head, "RIFF", 4) != 0
        || (std::memcmp(head + 8, "sfbk", 4) != 0 && std::memcmp(head + 8, "DLS ", 4) != 0))
        return false;
    const std::uint64_t declared
        = 8 + (head[4] | head[5] << 8 | head[6] << 16 | std::uint64_t { head[7] } << 24);
    return !whole || (sized && std::uint64_t(status.st_size) >= declared);
}

// The first whole soundfont (.sf2 or .sf3, by name order) in `folder`: one cut short or no
// soundfont at all is passed over. A folder of thousands of other files is looked through only
// so far.
std::optional<std::filesystem::path> firstSoundfontIn(const std::filesystem::path &folder)
{
    constexpr int kMaxEntries = 10'000;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    std::optional<std::filesystem::path> first;
    int seen = 0;
    for (; !error && it != std::filesystem::directory_iterator() && seen < kMaxEntries;
         it.increment(error), ++seen) {
        const std::string extension = lowerExtension(it->path());
        if ((extension == ".sf2" || extension == ".sf3") && (!first || it->path() < *first)
            && isReadableFile(it->path()) && isRiffSoundfont(it->path(), true))
            first = it->path();
    }
    return first;
}

// $TUNEDECK_SOUNDFONT's files, ':'-separated, empty names skipped.
std::vector<std::filesystem::path> chosenSoundfonts(std::string_view chosen)
{
    std::vector<std::filesystem::path> files;
    for (std::size_t at = 0; at <= chosen.size();) {
        const std::size_t end = std::min(chosen.find(':', at), chosen.size());
        if (end > at)
            files.emplace_back(chosen.substr(at, end - at));
        at = end + 1;
    }
    return files;
}

void quietFluidSynth()
{
    // FluidSynth prints warnings about soundfont quirks to stderr; nothing is logged in normal use.
    // Nor are the complaints of libinstpatch, which reads DLS files for it, about a broken one
    // (through GLib, without a domain of its own): the load fails, and the caller says so once.
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level : { FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG })
            fluid_set_log_function(level, nullptr, nullptr);
        g_log_set_handler(
            nullptr,
            GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE
                | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG),
            [](const gchar *, GLogLevelFlags, const gchar *, gpointer) {}, nullptr);
    });
}

std::atomic<double> g_gain { 0.2 }; // FluidSynth's own default

std::mutex g_chosenMutex;
std::vector<std::filesystem::path> g_chosen; // under g_chosenMutex: chooseSoundfonts()'s files

// `files`, when each is a readable file; else the error that names the first that is not, as
// chosen by `how` ("$TUNEDECK_SOUNDFONT = a.sf2:b.sf2").
Result<std::vector<std::filesystem::path>> readableOrError(
    std::vector<std::filesystem::path> files, const std::string &how)
{
    for (const auto &file : files) {
        if (!isReadableFile(file)) {
            return Error { Error::Code::NoSoundfont,
                "looked for " + how
                    + (files.size() == 1 ? ", which" : ", of which " + file.string())
                    + " is not a readable file",
                0 };
        }
    }
    return files;
}

// Soundfonts held in memory (a song's own bank) are loaded through FluidSynth's file callbacks
// under a name of this form: the prefix, the bytes' address, their size and a serial number, so
// FluidSynth's sample cache never mistakes one for another.
constexpr std::string_view kMemoryPrefix = "tunedeck-memory:";
std::atomic<unsigned> g_memorySerial { 0 };

// A soundfont file held open from its first load on: every later load of the font (each song's
// presets) reads these bytes, the ones its preset table was read from, even when the file is
// removed or replaced while the program runs.
struct HeldFile {
    explicit HeldFile(int descriptor)
        : fd(descriptor)
    { }
    ~HeldFile() { ::close(fd); }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    const int fd;
};

// A soundfont file as FluidSynth is shown it through the same callbacks, under its own name (so
// the sample cache knows it as that file): its bytes up to its preset part, then a preset part
// written here, in which only some presets keep their zones. The RIFF size is patched to match.
struct ServedFont {
    std::uint64_t pdtaOffset = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> pdta;
    std::shared_ptr<const HeldFile> file;
};

std::mutex g_servedMutex;
// What any load of the name gets. Never destroyed: a worker of a device may still be loading a
// font while the program exits.
auto &g_served = *new std::map<std::string, ServedFont, std::less<>>;
thread_local const std::pair<std::string_view, ServedFont> *t_serving = nullptr; // this thread's

// Serves `font` under `name` to loads made on this thread while it lives.
class ServingOnThisThread {
public:
    ServingOnThisThread(std::string_view name, ServedFont font)
        : m_serving(name, std::move(font))
    {
        t_serving = &m_serving;
    }
    ~ServingOnThisThread() { t_serving = nullptr; }
    ServingOnThisThread(const ServingOnThisThread &) = delete;
    ServingOnThisThread &operator=(const ServingOnThisThread &) = delete;

private:
    std::pair<std::string_view, ServedFont> m_serving;
};

// An open file of either kind: `head` bytes from memory or from `file`, then `tail`.
struct OpenFile {
    const std::uint8_t *memory = nullptr;
    std::shared_ptr<const HeldFile> file;
    std::uint64_t head = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> tail;
    std::uint64_t size = 0;
    std::uint64_t position = 0;

    bool read(std::uint8_t *out, std::uint64_t count)
    {
        const std::uint64_t start = position;
        while (count > 0 && position < head) {
            const std::size_t part = std::size_t(std::min(count, head - position));
            if (memory) {
                std::memcpy(out, memory + position, part);
            } else {
                const ssize_t got = ::pread(file->fd, out, part, off_t(position));
                if (got < 0 && errno == EINTR)
                    continue;
                if (got <= 0)
                    return false;
                position += std::uint64_t(got);
                out += got;
                count -= std::uint64_t(got);
                continue;
            }
            position += part;
            out += part;
            count -= part;
        }
        if (count > 0) {
            std::memcpy(out, tail->data() + (position - head), std::size_t(count));
            position += count;
            out += count;
        }
        if (tail) {
            // The RIFF size, bytes 4 to 7, counts the written preset part.
            for (std::uint64_t at = std::max<std::uint64_t>(start, 4); at < 8 && at < position;
                 ++at)
                (out - (position - at))[0] = std::uint8_t((size - 8) >> (8 * (at - 4)));
        }
        return true;
    }
};

void *openFile(const char *name)
{
    const std::string_view text(name);
    if (text.starts_with(kMemoryPrefix)) {
        void *address = nullptr;
        std::size_t size = 0;
        if (std::sscanf(name + kMemoryPrefix.size(), "%p:%zu:", &address, &size) != 2)
            return nullptr;
        return new OpenFile { static_cast<const std::uint8_t *>(address), {}, size, {}, size, 0 };
    }
    ServedFont font;
    if (t_serving && t_serving->first == text) {
        font = t_serving->second;
    } else {
        std::lock_guard lock(g_servedMutex);
        const auto found = g_served.find(text);
        if (found == g_served.end())
            return nullptr;
        font = found->second;
    }
    const std::uint64_t size = font.pdtaOffset + font.pdta->size();
    return new OpenFile { nullptr, std::move(font.file), font.pdtaOffset, std::move(font.pdta),
        size, 0 };
}

int readFile(void *buffer, fluid_long_long_t count, void *handle)
{
    auto *file = static_cast<OpenFile *>(handle);
    if (count < 0 || std::uint64_t(count) > file->size - file->position)
        return FLUID_FAILED;
    return file->read(static_cast<std::uint8_t *>(buffer), std::uint64_t(count)) ? FLUID_OK
                                                                                 : FLUID_FAILED;
}

int seekFile(void *handle, fluid_long_long_t offset, int origin)
{
    auto *file = static_cast<OpenFile *>(handle);
    const long long base = origin == SEEK_SET ? 0
        : origin == SEEK_CUR                  ? static_cast<long long>(file->position)
                                              : static_cast<long long>(file->size);
    const long long target = base + offset;
    if (target < 0 || static_cast<unsigned long long>(target) > file->size)
        return FLUID_FAILED;
    file->position = std::uint64_t(target);
    return FLUID_OK;
}

fluid_long_long_t tellFile(void *handle)
{
    return fluid_long_long_t(static_cast<OpenFile *>(handle)->position);
}

int closeFile(void *handle)
{
    delete static_cast<OpenFile *>(handle);
    return FLUID_OK;
}

fluid_settings_t *makeSettings(int sampleRate)
{
    fluid_settings_t *settings = new_fluid_settings();
    if (!settings)
        return nullptr;
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    fluid_settings_setnum(settings, "synth.gain", g_gain.load());
    fluid_settings_setint(settings, "synth.cpu-cores", 1);
    // System exclusive messages to this device id (or to every device) are taken: 0x10 is the
    // one Roland's sound modules answer to by default, which GS songs address.
    fluid_settings_setint(settings, "synth.device-id", 0x10);
    // Samples are read when a preset is first chosen, not with the soundfont: Synth::preload
    // reads those a song chooses before it plays, so the render thread never reads them.
    fluid_settings_setint(settings, "synth.dynamic-sample-loading", 1);
    return settings;
}

// The settings of a synthesiser that never sounds and only holds samples: no voices or effects
// to allocate.
fluid_settings_t *makeSilentSettings(int sampleRate)
{
    fluid_settings_t *settings = makeSettings(sampleRate);
    if (settings) {
        fluid_settings_setint(settings, "synth.polyphony", 1);
        fluid_settings_setint(settings, "synth.reverb.active", 0);
        fluid_settings_setint(settings, "synth.chorus.active", 0);
    }
    return settings;
}

// A synthesiser whose loader tried first reads files through the callbacks above.
fluid_synth_t *makeSynth(fluid_settings_t *settings)
{
    // FluidSynth sets itself up for the process as its first synthesiser is made, and one made
    // meanwhile on another thread (a song's, and the one read ahead for the next) does not wait
    // for that: it would lack FluidSynth's default modulators (velocity, volume, pan, pitch
    // bend). So the first is made alone, and any asked for meanwhile wait for it.
    static std::once_flag first;
    fluid_synth_t *synth = nullptr;
    std::call_once(first, [&] { synth = new_fluid_synth(settings); });
    if (!synth)
        synth = new_fluid_synth(settings);
    if (!synth)
        return nullptr;
    if (fluid_sfloader_t *loader = new_fluid_defsfloader(settings)) {
        fluid_sfloader_set_callbacks(loader, openFile, readFile, seekFile, tellFile, closeFile);
        fluid_synth_add_sfloader(synth, loader);
    }
    return synth;
}

} // namespace

struct Synth::Fonts {
    // A soundfont file loaded with only some presets' zones; the others cost nothing.
    struct Partial {
        int id = 0;
        std::string name;
        SoundfontPresets presets;
        std::shared_ptr<const HeldFile> file;
        // The presets with zones in the loaded preset part, and the notes they have zones for.
        std::map<std::size_t, NoteSet> played;
    };
    std::vector<Partial> partial;
};

namespace {

// Creates a synthesiser and loads `soundfonts` into it: every preset of each, but with no zones
// (so no instruments and no samples), for soundfonts whose preset part comes last; the others
// whole, with their samples read when chosen.
Result<std::pair<fluid_settings_t *, fluid_synth_t *>> makeLoadedSynth(
    const std::vector<std::filesystem::path> &soundfonts, int sampleRate, Synth::Fonts &fonts)
{
    fluid_settings_t *settings = makeSettings(sampleRate);
    fluid_synth_t *synth = settings ? makeSynth(settings) : nullptr;
    if (!synth) {
        if (settings)
            delete_fluid_settings(settings);
        return Error { Error::Code::Synth, "FluidSynth cannot create a synthesiser", 0 };
    }
    // FluidSynth looks for a preset from the font loaded last: the first named goes last.
    for (auto soundfont = soundfonts.rbegin(); soundfont != soundfonts.rend(); ++soundfont) {
        auto presets = SoundfontPresets::read(*soundfont);
        std::shared_ptr<const HeldFile> file;
        if (presets) {
            const int fd = ::open(soundfont->c_str(), O_RDONLY | O_CLOEXEC);
            if (fd >= 0)
                file = std::make_shared<const HeldFile>(fd);
        }
        if (file) {
            auto skeleton = std::make_shared<const std::vector<std::uint8_t>>(
                presets->pdta([](std::size_t) { return false; }));
            std::lock_guard lock(g_servedMutex);
            g_served[soundfont->string()] = ServedFont { presets->pdtaOffset(), skeleton, file };
        } else {
            // Not (or no longer) a font served in parts: FluidSynth reads this file itself, not
            // what was served under its name before it was replaced.
            std::lock_guard lock(g_servedMutex);
            g_served.erase(soundfont->string());
        }
        const bool riff = presets || isRiffSoundfont(*soundfont);
        const int id = riff ? fluid_synth_sfload(synth, soundfont->c_str(), 1) : FLUID_FAILED;
        if (id == FLUID_FAILED) {
            delete_fluid_synth(synth);
            delete_fluid_settings(settings);
            return Error { Error::Code::NoSoundfont,
                riff ? "cannot load " + soundfont->string()
                     : soundfont->string() + " is not a soundfont (SoundFont 2 or 3, or DLS)",
                0 };
        }
        if (file)
            fonts.partial.push_back(
                { id, soundfont->string(), std::move(*presets), std::move(file), {} });
    }
    return std::pair { settings, synth };
}

} // namespace

Result<std::vector<std::filesystem::path>> findSoundfonts()
{
    return findSoundfonts(kDefaultSoundfonts);
}

Result<std::vector<std::filesystem::path>> findSoundfonts(std::span<const char *const> fixedPlaces)
{
    {
        std::unique_lock lock(g_chosenMutex);
        if (!g_chosen.empty()) {
            auto files = g_chosen;
            lock.unlock();
            std::string how = files.size() > 1 ? "the chosen soundfonts " : "the chosen soundfont ";
            for (std::size_t i = 0; i < files.size(); ++i)
                how += (i > 0 ? ", " : "") + files[i].string();
            return readableOrError(std::move(files), how);
        }
    }
    if (const char *chosen = std::getenv("TUNEDECK_SOUNDFONT"); chosen && *chosen) {
        auto files = chosenSoundfonts(chosen);
        if (!files.empty())
            return readableOrError(
                std::move(files), std::string("$TUNEDECK_SOUNDFONT = ") + chosen);
    }
    std::string tried = "looked for $TUNEDECK_SOUNDFONT (not set)";
    bool firstPlace = true;
    for (const char *candidate : fixedPlaces) {
        // A broken file in one place (a download cut short) leaves the next place its turn.
        if (isReadableFile(candidate) && isRiffSoundfont(candidate, true))
            return std::vector<std::filesystem::path> { candidate };
        tried += firstPlace ? ", then " : ", ";
        tried += candidate;
        firstPlace = false;
    }
    tried += ", then any .sf2 or .sf3 file in ";
    bool first = true;
    for (const auto &folder : xdgSoundfontFolders()) {
        if (auto found = firstSoundfontIn(folder))
            return std::vector<std::filesystem::path> { *found };
        tried += first ? "" : ", ";
        tried += folder.string();
        first = false;
    }
    return Error { Error::Code::NoSoundfont, tried, 0 };
}

Result<std::filesystem::path> findSoundfont()
{
    auto found = findSoundfonts();
    if (!found)
        return found.error();
    return found.value().front();
}

void chooseSoundfonts(std::vector<std::filesystem::path> files)
{
    std::lock_guard lock(g_chosenMutex);
    g_chosen = std::move(files);
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
    auto soundfonts = findSoundfonts();
    if (!soundfonts)
        return soundfonts.error();
    auto fonts = std::make_unique<Fonts>();
    auto made = makeLoadedSynth(soundfonts.value(), sampleRate, *fonts);
    if (!made)
        return made.error();
    // Loading chose a preset on every channel (and, in a font loaded whole, read its samples); no
    // song has asked for them.
    for (int channel = 0; channel < fluid_synth_count_midi_channels(made.value().second); ++channel)
        fluid_synth_unset_program(made.value().second, channel);
    return std::unique_ptr<Synth>(
        new Synth(made.value().first, made.value().second, sampleRate, std::move(fonts)));
}

Synth::Synth(
    fluid_settings_t *settings, fluid_synth_t *synth, int sampleRate, std::unique_ptr<Fonts> fonts)
    : m_settings(settings)
    , m_synth(synth)
    , m_sampleRate(sampleRate)
    , m_fonts(std::move(fonts))
{ }

bool Synth::write(float *out, int frames) noexcept
{
    m_framesWritten += std::uint64_t(frames);
    return fluid_synth_write_float(m_synth, frames, out, 0, 2, out, 1, 2) == FLUID_OK;
}

Result<int> Synth::addBank(std::span<const std::uint8_t> bank, int bankOffset)
{
    char name[96];
    std::snprintf(name, sizeof name, "%.*s%p:%zu:%u", int(kMemoryPrefix.size()),
        kMemoryPrefix.data(), static_cast<const void *>(bank.data()), bank.size(),
        g_memorySerial.fetch_add(1));
    const int id = fluid_synth_sfload(m_synth, name, 1);
    if (id == FLUID_FAILED)
        return Error { Error::Code::NoSoundfont, "the song's own soundfont cannot be loaded", 0 };
    fluid_synth_set_bank_offset(m_synth, id, bankOffset);
    return id;
}

void Synth::removeBank(int id)
{
    fluid_synth_sfunload(m_synth, id, 1);
}

void Synth::dropBuffered() noexcept
{
    const int buffered = int((kBlockFrames - m_framesWritten % kBlockFrames) % kBlockFrames);
    if (buffered > 0)
        static_cast<void>(write(m_scratch, buffered));
}

int Synth::selectedBank(const PresetId &id) const
{
    return id.bank + fluid_synth_get_bank_offset(m_synth, id.soundfont);
}

int Synth::keep(int channel, std::vector<PresetId> &kept)
{
    fluid_preset_t *preset = fluid_synth_get_channel_preset(m_synth, channel);
    if (!preset)
        return -1;
    const PresetId id { fluid_sfont_get_id(fluid_preset_get_sfont(preset)),
        fluid_preset_get_banknum(preset), fluid_preset_get_num(preset) };
    if (const auto found = std::find(kept.begin(), kept.end(), id); found != kept.end())
        return int(found - kept.begin());
    fluid_synth_pin_preset(m_synth, id.soundfont, selectedBank(id), id.program);
    kept.push_back(id);
    return int(kept.size() - 1);
}

void Synth::preload(const MidiFile &song, const std::atomic<bool> *cancel, bool heldElsewhere,
    std::optional<int> onlyKeyShift)
{
    // The song's bank selects, program changes and system exclusive messages are played here in
    // order, without notes: whatever preset FluidSynth chooses for each (its fall-backs for a
    // missing one, drum channels, resets included) is then the one it chooses while the song
    // plays or a seek replays them. Each is pinned as soon as it is chosen, so choosing the next
    // one on the same channel does not free it again. Each note counts for the preset its
    // channel has then, and for those chosen while it is held (a legato or mono part starts a
    // held note again when a later one ends, with the channel's preset of that time).
    std::vector<PresetId> kept;
    std::vector<NoteSet> notes;
    int chosen[16];
    std::uint8_t held[16][128] = {}; // the velocity of each key held down, or 0
    const int channels = std::min(fluid_synth_count_midi_channels(m_synth), 16);
    const auto choose = [&](int channel) {
        chosen[channel] = keep(channel, kept);
        notes.resize(kept.size());
        for (std::size_t key = 0; chosen[channel] >= 0 && key < 128; ++key) {
            if (held[channel][key] != 0)
                notes[std::size_t(chosen[channel])][key].set(held[channel][key]);
        }
    };
    const auto keepAll = [&] {
        for (int channel = 0; channel < channels; ++channel)
            choose(channel);
    };
    std::fill(std::begin(chosen), std::end(chosen), -1);
    fluid_synth_system_reset(m_synth);
    keepAll(); // what every seek's reset chooses
    std::size_t count = 0;
    for (const MidiEvent &event : song.events()) {
        if (cancel && (++count & 0xFFFF) == 0 && cancel->load(std::memory_order_relaxed))
            break;
        const int channel = event.status & 0x0F;
        switch (event.status & 0xF0) {
        case 0x80:
        case 0x90: {
            const int key = event.data1() & 0x7F;
            const int velocity = (event.status & 0xF0) == 0x90 ? event.data2() & 0x7F : 0;
            held[channel][key] = std::uint8_t(velocity);
            if (velocity != 0 && chosen[channel] >= 0)
                notes[std::size_t(chosen[channel])][std::size_t(key)].set(std::size_t(velocity));
            continue;
        }
        case 0xB0:
            if (event.data1() == 0 || event.data1() == 32)
                fluid_synth_cc(m_synth, channel, event.data1(), event.data2());
            continue;
        case 0xC0:
            fluid_synth_program_change(m_synth, channel, event.data1());
            choose(channel);
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
    // The listener may move a melodic preset's notes (not a drum kit's) while it plays.
    const int shiftLo = onlyKeyShift.value_or(-kKeyShiftRoom);
    const int shiftHi = onlyKeyShift.value_or(kKeyShiftRoom);
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (kept[i].bank == kPercussionBank || (shiftLo == 0 && shiftHi == 0))
            continue;
        NoteSet moved {};
        for (int key = 0; key < 128; ++key) {
            for (int to = std::max(key + shiftLo, 0); to <= std::min(key + shiftHi, 127); ++to)
                moved[std::size_t(to)] |= notes[i][std::size_t(key)];
        }
        notes[i] = moved;
    }
    m_shiftLo = shiftLo;
    m_shiftHi = shiftHi;
    if (!cancel || !cancel->load(std::memory_order_relaxed))
        reloadPartial(kept, notes, heldElsewhere);
    // The last song's presets stay until now, so the samples both use were not read again.
    for (const PresetId &id : m_kept) {
        if (std::find(kept.begin(), kept.end(), id) == kept.end())
            fluid_synth_unpin_preset(m_synth, id.soundfont, selectedBank(id), id.program);
    }
    m_kept = std::move(kept);
}

void Synth::reloadPartial(
    const std::vector<PresetId> &kept, const std::vector<NoteSet> &notes, bool heldElsewhere)
{
    fluid_settings_t *scratchSettings = nullptr;
    fluid_synth_t *scratch = nullptr;
    bool reloaded = false;
    for (Fonts::Partial &font : m_fonts->partial) {
        std::map<std::size_t, NoteSet> played;
        for (std::size_t k = 0; k < kept.size(); ++k) {
            const PresetId &id = kept[k];
            for (std::size_t i = 0; id.soundfont == font.id && i < font.presets.presetCount();
                 ++i) {
                if (font.presets.bank(i) == id.bank && font.presets.program(i) == id.program)
                    played[i] = notes[k];
            }
        }
        const bool samePresets = std::equal(played.begin(), played.end(), font.played.begin(),
            font.played.end(), [](const auto &a, const auto &b) { return a.first == b.first; });
        // With the same presets, the zones loaded for the last songs stay: songs that take turns
        // read nothing again. Other presets start afresh, as does a song read ahead (its own
        // synthesiser holds its samples, and the last song's go at once).
        if (samePresets && !heldElsewhere) {
            for (auto &[i, set] : played) {
                for (std::size_t key = 0; key < set.size(); ++key)
                    set[key] |= font.played[i][key];
            }
        }
        if (played == font.played)
            continue;
        const auto reaches = [&played](std::size_t i, const SoundfontPresets::NoteBox &box) {
            std::bitset<128> velocities;
            for (int velocity = std::max(box.velLo, 0); velocity <= std::min(box.velHi, 127);
                 ++velocity)
                velocities.set(std::size_t(velocity));
            for (int key = std::max(box.keyLo, 0); key <= std::min(box.keyHi, 127); ++key) {
                if ((played.at(i)[std::size_t(key)] & velocities).any())
                    return true;
            }
            return false;
        };
        const ServingOnThisThread serving(font.name,
            ServedFont { font.presets.pdtaOffset(),
                std::make_shared<const std::vector<std::uint8_t>>(font.presets.pdta(
                    [&played](std::size_t i) { return played.contains(i); }, reaches)),
                font.file });
        // When the old set has samples, the new set's are read into a synthesiser of its own
        // first: reloading the font here then finds them in FluidSynth's sample cache, while the
        // samples the old set shares with it are still held. Samples read ahead are held already.
        const bool sharing = !heldElsewhere && !font.played.empty();
        if (sharing && !scratch) {
            scratchSettings = makeSilentSettings(m_sampleRate);
            scratch = scratchSettings ? makeSynth(scratchSettings) : nullptr;
            if (!scratch)
                break;
        }
        const int scratchId = sharing ? fluid_synth_sfload(scratch, font.name.c_str(), 0) : 0;
        if (scratchId == FLUID_FAILED)
            continue;
        for (const PresetId &id : kept) {
            if (sharing && id.soundfont == font.id)
                fluid_synth_pin_preset(scratch, scratchId, id.bank, id.program);
        }
        // No voice may hold a sample of the old font when it is freed, else FluidSynth leaves that
        // to a timer thread of its own, later. A reset lets voices ring out their release, so
        // they are cut, and the blocks in which FluidSynth's mixer finishes them and hands them
        // back are computed here (silent): the render thread does not use the synthesiser now.
        fluid_synth_all_sounds_off(m_synth, -1);
        for (int block = 0; block < 16 && fluid_synth_get_active_voice_count(m_synth) > 0; ++block)
            static_cast<void>(write(m_scratch, kBlockFrames));
        // Keeps the font's id and its place among the others.
        if (fluid_synth_sfreload(m_synth, font.id) == FLUID_FAILED)
            continue;
        for (const PresetId &id : kept) {
            if (id.soundfont == font.id)
                fluid_synth_pin_preset(m_synth, font.id, id.bank, id.program);
        }
        font.played = std::move(played);
        reloaded = true;
    }
    // Reloading chose each channel's preset again by its bank and program numbers, which for a
    // drum channel finds none; a reset chooses as FluidSynth does everywhere else.
    if (reloaded)
        fluid_synth_system_reset(m_synth);
    if (scratch)
        delete_fluid_synth(scratch);
    if (scratchSettings)
        delete_fluid_settings(scratchSettings);
}

Synth::~Synth()
{
    delete_fluid_synth(m_synth);
    delete_fluid_settings(m_settings);
}

} // namespace tunedeck
