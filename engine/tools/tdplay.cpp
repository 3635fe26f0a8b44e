// tdplay: the engine on the command line. Plays files, prints what they are, or renders them
// to a wave file, for headless machines, scripts and benchmarks.

#include "ListenerSettings.h"
#include "RenderTarget.h"
#include "SongTextView.h"
#include "tunedeck/Device.h"
#include "tunedeck/MidiFile.h"
#include "tunedeck/Synth.h"

#include <poll.h>
#include <sndfile.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t kRenderBlockFrames = 4096;
constexpr auto kStatusInterval = std::chrono::milliseconds(200);

const char kVersion[] = TUNEDECK_VERSION;

const char kUsage[] = "Usage: tdplay [OPTION]... FILE...\n"
                      "       tdplay --info [-v] FILE...\n"
                      "       tdplay --render OUT [--pcm16] [--max-seconds N] FILE\n"
                      "Options may come in any order; -- ends them.\n"
                      "\n"
                      "Plays MIDI songs (.mid, .rmi) and wave files through the sound card, one\n"
                      "after another. On a terminal it shows the position on one status line and\n"
                      "takes keys: space pauses and resumes, left and right arrows seek 5 s,\n"
                      "n skips to the next file, q quits. A song's lyrics show on the line\n"
                      "under it, the part already sung in bold. Play lists of other players\n"
                      "(.m3u, .m3u8, .pls, .xspf) stand for the files they list.\n";
// Then the keys of the listener's settings, then:
const char kUsageOptions[]
    = "\n"
      "  --info        print one tab-separated line per file: the name, the kind\n"
      "                (smf0, smf1, smf2, rmi, wav) and the length in ms; or the\n"
      "                name, 'error' and why the file cannot be played; with -v\n"
      "                also a song's format, tracks, tempo at the start and\n"
      "                its track-name and copyright texts; and what a file says\n"
      "                about itself: title, artist, copyright, markers, lyrics\n"
      "  --render      render FILE as fast as possible to OUT, 44100 Hz stereo,\n"
      "                in the format OUT's name ends with: .wav (32-bit float,\n"
      "                or 16-bit PCM with --pcm16), .flac or .ogg (Vorbis); at\n"
      "                most N seconds of it with --max-seconds N (1 to\n"
      "                4294967); OUT appears once the render ends, and a file\n"
      "                already there is replaced by a whole render only\n"
      "  --transpose N move songs N semitones (-12 to 12), drums excepted\n"
      "  --tempo PCT   play at PCT percent of the speed (25 to 400); wave files\n"
      "                change pitch with it\n"
      "  --mute LIST   silence MIDI channels, as in 1,10 or 2-4; given again,\n"
      "                the lists add up\n"
      "  --solo LIST   only these channels sound (the lists add up too)\n"
      "  --loop [N]    play each file N times, or for ever; a song that marks a\n"
      "                loop repeats that part, then plays on to its end\n"
      "  --soundfont FILE  the General MIDI soundfont to use; given again, the\n"
      "                fonts are stacked, the first named winning where they\n"
      "                overlap\n"
      "  --no-lyrics   no lyric line on the terminal\n"
      "  --gain X      the synthesiser's gain, 0 to 10 (FluidSynth's; 0.2 unless\n"
      "                given)\n"
      "  --output sdl  the sound card (the default; TUNEDECK_OUTPUT=null changes\n"
      "                the default)\n"
      "  --output null discard the sound in real time\n"
      "  --version     print the version\n"
      "  --help        show this text\n"
      "\n"
      "MIDI songs need a General MIDI soundfont: --soundfont,\n"
      "$TUNEDECK_SOUNDFONT (several files separated by ':'), else\n"
      "/usr/share/sounds/sf2/default-GM.sf2 or Debian's TimGM6mb or FluidR3, else\n"
      "the first whole .sf2 or .sf3 file in sounds/sf2, sounds/sf3 or soundfonts\n"
      "under $XDG_DATA_HOME and each of $XDG_DATA_DIRS.\n"
      "Exit status: 0 when every file played, 1 when one could not (no sound\n"
      "device, no soundfont, a bad file, output that cannot be written), 2 for a\n"
      "wrong command line, 128 and the signal's number when interrupted (130 for\n"
      "Ctrl+C).\n";

void printUsage(std::FILE *to)
{
    std::fputs(kUsage, to);
    std::fputs(kListenerKeysHelp, to);
    std::fputs(kUsageOptions, to);
}

// An error as printed on a terminal: its details often repeat a file's name, whose control
// bytes are escaped as in the name itself.
std::string describe(const tunedeck::Error &error)
{
    std::string text = tunedeck::errorText(error.code);
    if (!error.detail.empty())
        text += " (" + error.detail + ")";
    return tdplay::shown(text);
}

std::string formatTime(std::uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u", ms / 60000, ms / 1000 % 60);
    return text;
}

// For --info -v: a song's format, tracks, division, tempo at the start, and the texts of its
// track-name and copyright meta events, each on an indented line.
void printSongDetails(const char *file)
{
    const auto song = tunedeck::MidiFile::read(file);
    if (!song)
        return;
    const tunedeck::MidiFile &midi = song.value();
    std::printf("  format %d, %d track%s, ", midi.format(), midi.trackCount(),
        midi.trackCount() == 1 ? "" : "s");
    if (midi.ticksPerQuarter() != 0)
        std::printf("%u ticks per quarter\n", unsigned(midi.ticksPerQuarter()));
    else
        std::printf("SMPTE %d frames per second, %d ticks per frame\n", midi.smpteFramesPerSecond(),
            midi.ticksPerFrame());
    // A song timed in SMPTE frames has no tempo: its tempo events are not heeded.
    if (midi.ticksPerQuarter() != 0) {
        const std::uint32_t usPerQuarter = midi.tempoMap().usPerQuarterAt(0);
        std::printf("  tempo at start %.2f bpm (%u us per quarter)\n",
            usPerQuarter ? 60'000'000.0 / usPerQuarter : 0.0, usPerQuarter);
    }
    constexpr std::uint8_t kCopyright = 0x02;
    constexpr std::uint8_t kTrackName = 0x03;
    const tunedeck::CodePage page = tunedeck::codePageOf(midi);
    for (const tunedeck::MidiEvent &event : midi.events()) {
        if (!event.isMeta() || (event.metaType != kCopyright && event.metaType != kTrackName))
            continue;
        const std::string text = tunedeck::textFromBytes(midi.payloadOf(event), page);
        if (event.metaType == kCopyright)
            std::printf("  copyright: %s\n", text.c_str());
        else
            std::printf("  track name: %s\n", text.c_str());
    }
}

int info(std::span<const char *const> files, bool verbose)
{
    int status = 0;
    for (const char *file : files) {
        const auto probed = tunedeck::Device::probe(file);
        if (probed) {
            std::printf("%s\t%s\t%u\n", tdplay::shown(file).c_str(),
                tunedeck::mediaKindName(probed.value().kind), probed.value().lengthMs);
            if (verbose && probed.value().kind != tunedeck::MediaKind::Wave)
                printSongDetails(file);
            if (verbose)
                tdplay::printSongText(probed.value().text, file);
        } else {
            std::printf(
                "%s\terror\t%s\n", tdplay::shown(file).c_str(), describe(probed.error()).c_str());
            status = 1;
        }
    }
    return status;
}

// The number of the signal (SIGINT, SIGTERM or SIGHUP) that ends the program, 0 until one
// comes; the play loop notices it within one status interval, the render loop within a block.
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void onInterrupt(int signal)
{
    g_interrupted = signal;
}

// The exit status of a program ended by a signal, as the shell reports one killed by it.
int interruptedStatus()
{
    return 128 + g_interrupted;
}

void installInterruptHandler()
{
    struct sigaction action { };
    action.sa_handler = &onInterrupt;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
}

// The libsndfile format `path`'s ending asks for: .wav (or no ending, as for a device or a
// FIFO), .flac, .ogg or .oga (Vorbis); nothing for another ending.
std::optional<int> renderFormat(std::string_view path, bool pcm16)
{
    const std::string_view name = path.substr(path.rfind('/') + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return SF_FORMAT_WAV | (pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    std::string ending(name.substr(dot + 1));
    std::transform(ending.begin(), ending.end(), ending.begin(),
        [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (ending == "wav" || ending == "wave")
        return SF_FORMAT_WAV | (pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    if (ending == "flac")
        return SF_FORMAT_FLAC | (pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    if (ending == "ogg" || ending == "oga")
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    return std::nullopt;
}

// On a terminal: how far a render has come, as a bar on one line.
class Progress {
public:
    explicit Progress(std::uint64_t totalFrames)
        : m_total(std::max<std::uint64_t>(totalFrames, 1))
        , m_shown(::isatty(STDERR_FILENO) == 1)
    { }
    void update(std::uint64_t frames)
    {
        const int percent = int(std::min<std::uint64_t>(frames * 100 / m_total, 100));
        if (!m_shown || percent == m_percent)
            return;
        m_percent = percent;
        constexpr int kWidth = 40;
        const std::string bar = std::string(std::size_t(percent * kWidth / 100), '#')
            + std::string(std::size_t(kWidth - percent * kWidth / 100), '-');
        std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), percent);
        std::fflush(stderr);
    }
    // Ends the bar's line, so messages after it start on their own.
    void finish()
    {
        if (m_shown && m_percent >= 0)
            std::fputc('\n', stderr);
        m_percent = -1;
    }
    ~Progress() { finish(); }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

private:
    std::uint64_t m_total;
    bool m_shown;
    int m_percent = -1;
};

// Renders `file` into `outPath` with the listener's settings, at most `maxSeconds` of it when
// that is not 0. Fails when the file cannot be opened, fails while rendering, or the output
// cannot be written.
int render(const char *outPath, const char *file, bool pcm16, std::uint64_t maxSeconds,
    const ListenerSettings &settings)
{
    installInterruptHandler();
    std::atomic<bool> failed { false };
    std::atomic<int> reason { 0 };
    std::optional<tunedeck::Device> owned;
    tunedeck::Device &device = owned.emplace(
        [&](tunedeck::Notice notice) {
            if (notice.kind == tunedeck::Notice::Kind::Failed) {
                reason = static_cast<int>(notice.reason);
                failed = true;
            }
        },
        tunedeck::OutputMode::Offline);
    if (auto opened = device.open(file); !opened) {
        std::fprintf(stderr, "tdplay: %s: %s\n", tdplay::shown(file).c_str(),
            describe(opened.error()).c_str());
        return 1;
    }
    settings.applyTo(device);
    std::string why;
    bool wrongCommandLine = false;
    // A file already there is replaced by a whole render only.
    std::error_code noFile;
    const bool replaces = std::filesystem::exists(outPath, noFile);
    std::optional<RenderTarget> target = RenderTarget::open(outPath, file, why, wrongCommandLine);
    if (!target) {
        std::fprintf(
            stderr, "tdplay: %s: %s\n", tdplay::shown(outPath).c_str(), tdplay::shown(why).c_str());
        return wrongCommandLine ? 2 : 1;
    }
    const std::optional<int> format = renderFormat(outPath, pcm16);
    if (!format) {
        std::fprintf(stderr,
            "tdplay: %s: the name must end in .wav, .flac or .ogg to tell the format\n",
            tdplay::shown(outPath).c_str());
        return 2;
    }
    const std::uint64_t limit
        = maxSeconds == 0 ? ~std::uint64_t { 0 } : maxSeconds * std::uint64_t(device.sampleRate());
    // A song that marks a loop repeats only that part, so it may end before this.
    const std::uint64_t planned = std::min(limit,
        std::uint64_t { device.playLengthMs() } * std::uint64_t(device.sampleRate()) / 1000
            * std::uint64_t(settings.loopCount));
    SF_INFO info {};
    info.samplerate = device.sampleRate();
    info.channels = 2;
    info.format = *format;
    // A wave file's sizes have 32 bits: a render planned longer goes into RF64, the wave file
    // with 64-bit sizes; one that grows past them all the same is cut off with an error rather
    // than written with sizes that wrapped round. (Into a stream the sizes are left unknown.)
    const std::uint64_t frameBytes = (*format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 ? 4 : 8;
    constexpr std::uint64_t kWaveDataBytes = 0xFFFFFFFFu - 4096; // less room for the header
    const bool wave = (*format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
    if (wave && target->seekable() && planned > kWaveDataBytes / frameBytes)
        info.format = SF_FORMAT_RF64 | (*format & SF_FORMAT_SUBMASK);
    const std::uint64_t fits
        = target->seekable() && (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV
        ? kWaveDataBytes / frameBytes
        : ~std::uint64_t { 0 };
    SNDFILE *out = target->openSound(info);
    if (!out) {
        std::fprintf(stderr, "tdplay: %s: %s\n", tdplay::shown(outPath).c_str(),
            target->writeError().value_or(sf_strerror(nullptr)).c_str());
        return 1;
    }
    // Clip instead of wrapping around where the mix is louder than full scale.
    if ((*format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT)
        sf_command(out, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    std::vector<float> block(kRenderBlockFrames * 2);
    std::uint64_t total = 0;
    Progress progress(planned);
    device.play();
    bool written = true;
    bool tooLong = false;
    std::size_t fileFrames = kRenderBlockFrames; // of the last block
    while (device.isPlaying() && written && total < limit && !g_interrupted) {
        const std::size_t frames = device.pump(block);
        fileFrames = frames;
        const auto keep = static_cast<sf_count_t>(std::min<std::uint64_t>(frames, limit - total));
        tooLong = std::uint64_t(keep) > fits - total;
        written = !tooLong && sf_writef_float(out, block.data(), keep) == keep;
        total += std::uint64_t(keep);
        progress.update(total);
    }
    // What still sounds when a song ends (notes let go, the reverb) rings out, as when it plays:
    // until it falls below hearing, for a few seconds at most.
    constexpr std::uint64_t kTailSeconds = 5;
    constexpr float kInaudible = 1e-4f; // -80 dB
    // It begins in the block the song ended in, after the song's last frame.
    const std::uint64_t tailEnd = std::min(limit, total + kTailSeconds * info.samplerate);
    std::size_t tailFrom = device.isPlaying() ? kRenderBlockFrames : fileFrames;
    while (device.kind() != tunedeck::MediaKind::Wave && written && !tooLong && !g_interrupted
        && !failed && total < tailEnd) {
        if (tailFrom == kRenderBlockFrames) {
            device.pump(block);
            tailFrom = 0;
        }
        const auto rest = block.begin() + std::ptrdiff_t(2 * tailFrom);
        if (std::all_of(
                rest, block.end(), [](float sample) { return std::abs(sample) < kInaudible; }))
            break;
        const auto keep = static_cast<sf_count_t>(
            std::min<std::uint64_t>(kRenderBlockFrames - tailFrom, tailEnd - total));
        tooLong = std::uint64_t(keep) > fits - total;
        written = !tooLong && sf_writef_float(out, &*rest, keep) == keep;
        total += std::uint64_t(keep);
        tailFrom = kRenderBlockFrames;
    }
    progress.finish();
    // An encoder that got no frames writes nothing at all, not even the header (FLAC): an empty
    // file is still a file of its format.
    if (total == 0)
        sf_command(out, SFC_UPDATE_HEADER_NOW, nullptr, SF_FALSE);
    if (tooLong) {
        std::fprintf(stderr,
            "tdplay: %s: a wave file holds at most 4 GiB of sound, and this render is longer "
            "(give a .flac name, or --max-seconds)\n",
            tdplay::shown(outPath).c_str());
    } else if (!written) {
        std::fprintf(stderr, "tdplay: %s: writing failed: %s\n", tdplay::shown(outPath).c_str(),
            target->writeError().value_or(sf_strerror(out)).c_str());
    }
    bool closed = sf_close(out) == 0 && !target->writeError();
    if (written && !closed) {
        std::fprintf(stderr, "tdplay: %s: writing failed at the end: %s\n",
            tdplay::shown(outPath).c_str(),
            target->writeError().value_or("the encoder could not finish").c_str());
    }
    // The notice thread reports a failure shortly after the block that met it; the device's
    // destructor joins that thread, so the flag is final once the device is gone.
    owned.reset();
    if (failed) {
        std::fprintf(stderr, "tdplay: %s: rendering failed: %s\n", tdplay::shown(file).c_str(),
            tunedeck::errorText(static_cast<tunedeck::Error::Code>(reason.load())));
    }
    // What was rendered before a failure to read the song is kept, unless it would replace a
    // file; an interrupted or failed write leaves nothing (the target's destructor removes the
    // temporary file).
    if (g_interrupted)
        return interruptedStatus();
    if (failed && replaces && closed && written) {
        std::fprintf(stderr, "tdplay: %s: kept as it was: the render is not whole\n",
            tdplay::shown(outPath).c_str());
    } else if (closed && written) {
        if (auto refused = target->commit()) {
            std::fprintf(
                stderr, "tdplay: %s: %s\n", tdplay::shown(outPath).c_str(), refused->c_str());
            closed = false;
        }
    }
    return closed && written && !failed ? 0 : 1;
}

// Whether the terminal on `fd` is this program's, not another job's: a job in the background
// that reads it or changes its settings is stopped until it is brought to the foreground, and
// one that keeps rewriting a line of it writes over the shell's.
bool inForeground(int fd)
{
    return ::tcgetpgrp(fd) == ::getpgrp();
}

// The terminal settings of single-key mode.
termios g_singleKeys {};

// Puts a terminal on stdin into single-key mode (no line editing, no echo; Ctrl+C still
// interrupts) while the program has it in the foreground, and restores it when destroyed,
// however the program leaves the play loop.
class KeyboardMode {
public:
    KeyboardMode()
    {
        if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &m_saved) != 0)
            return;
        g_singleKeys = m_saved;
        g_singleKeys.c_lflag &= ~tcflag_t(ICANON | ECHO);
        g_singleKeys.c_cc[VMIN] = 0;
        g_singleKeys.c_cc[VTIME] = 0;
        m_active
            = !inForeground(STDIN_FILENO) || ::tcsetattr(STDIN_FILENO, TCSANOW, &g_singleKeys) == 0;
    }
    ~KeyboardMode()
    {
        if (m_active && inForeground(STDIN_FILENO))
            ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    KeyboardMode(const KeyboardMode &) = delete;
    KeyboardMode &operator=(const KeyboardMode &) = delete;

    bool active() const { return m_active; }

private:
    termios m_saved {};
    bool m_active = false;
};

enum class Key { None, PauseResume, Back, Forward, Next, Quit, Other };

// Reads one byte from stdin if it comes within `timeoutMs`; in the background, only waits. A
// shell gives the terminal its own settings back while the program is stopped (Ctrl+Z) and
// leaves them when it goes on, and a job started in the background comes to the foreground
// with the shell's settings: single-key mode is set again then.
std::optional<char> readByte(int timeoutMs)
{
    if (!inForeground(STDIN_FILENO)) {
        ::poll(nullptr, 0, timeoutMs);
        return std::nullopt;
    }
    termios now {};
    if (::tcgetattr(STDIN_FILENO, &now) == 0 && (now.c_lflag & ICANON) != 0)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_singleKeys);
    pollfd in { STDIN_FILENO, POLLIN, 0 };
    char byte = 0;
    if (::poll(&in, 1, timeoutMs) <= 0 || ::read(STDIN_FILENO, &byte, 1) != 1)
        return std::nullopt;
    return byte;
}

// One key as the terminal sends it: a byte, or an escape sequence read whole (arrows, function
// keys, keys with Shift, Ctrl or Alt), so that no byte of a sequence counts as a key of its own:
// F5 sends ESC [ 1 5 ~, and its 5 is no channel.
struct KeyPress {
    char byte = 0; // the key's byte, ESC for a sequence
    char final = 0; // a sequence's last byte ('C' and 'D' for the right and left arrows)
};

std::optional<KeyPress> readKeyPress(int timeoutMs)
{
    constexpr int kSequenceMs = 50; // the rest of a sequence comes in one go
    constexpr int kLongestSequence = 32;
    const auto byte = readByte(timeoutMs);
    if (!byte || *byte != '\x1b')
        return byte ? std::optional(KeyPress { *byte }) : std::nullopt;
    KeyPress press { '\x1b' };
    const auto introducer = readByte(kSequenceMs);
    if (introducer == 'O') { // ESC O and one byte: arrows and F1 to F4 on some terminals
        press.final = readByte(kSequenceMs).value_or(0);
    } else if (introducer == '[') {
        // Parameter and intermediate bytes, then the final byte, from '@' to '~'.
        for (int i = 0; i < kLongestSequence; ++i) {
            const auto next = readByte(kSequenceMs);
            if (!next || (*next >= '@' && *next <= '~')) {
                press.final = next.value_or(0);
                break;
            }
        }
    }
    return press; // Escape alone, or Alt and a key (ESC and the key's byte)
}

// The next key if it is a plain one (for a setting's key that a digit follows); a sequence is
// read whole and gives nothing.
std::optional<char> readPlainKey(int timeoutMs)
{
    const auto press = readKeyPress(timeoutMs);
    if (!press || press->byte == '\x1b')
        return std::nullopt;
    return press->byte;
}

// Waits up to `timeout` for a key on stdin and returns it; None on time-out or for a sequence
// that means nothing here, Other (with the byte in `other`) for a key not listed. Keys are
// read one at a time, so several typed at once are each seen. The arrows seek with Shift, Ctrl
// or Alt held too.
Key readKey(std::chrono::milliseconds timeout, char *other)
{
    const auto press = readKeyPress(int(timeout.count()));
    if (!press)
        return Key::None;
    switch (press->byte) {
    case ' ':
        return Key::PauseResume;
    case 'n':
    case 'N':
        return Key::Next;
    case 'q':
    case 'Q':
        return Key::Quit;
    case '\x1b':
        return press->final == 'C' ? Key::Forward : press->final == 'D' ? Key::Back : Key::None;
    default:
        *other = press->byte;
        return Key::Other;
    }
}

enum class Outcome { Played, Failed, Next, Quit, Interrupted };

struct Player {
    tunedeck::Device &device;
    std::mutex &mutex;
    std::condition_variable &changed;
    bool &finished;
    bool &failed;
    std::uint32_t &finishedRun; // the run the last notice belonged to
    bool showStatus; // stderr is a terminal
    bool keys; // stdin is a terminal in single-key mode
    bool lyrics = true; // the lyric line under the status line (on a terminal)
    const ListenerSettings &chosen; // from the command line
    ListenerSettings settings; // as the keys have changed them
};

// Moves by `deltaMs` within the open file and goes on playing if it was.
void seekBy(tunedeck::Device &device, std::int64_t deltaMs, bool paused)
{
    const auto target = std::clamp<std::int64_t>(
        std::int64_t(device.positionMs()) + deltaMs, 0, std::int64_t(device.lengthMs()));
    if (device.seekMs(std::uint32_t(target)) && !paused)
        device.play();
}

// The lyric line of the song at its position, on the terminal line under the status line; the
// cursor goes back to the status line.
void showLyricLine(const tunedeck::Device &device)
{
    if (device.text().lyrics.empty())
        return;
    const std::string line
        = tdplay::karaokeLine(device.text(), device.positionMs(), tdplay::terminalColumns());
    std::fprintf(stderr, "\n\x1b[2K%s\x1b[1A\r", line.c_str());
}

// Plays one file to its end through the real output, with a status line on a terminal; what
// `next` (when not null) needs is read meanwhile.
Outcome play(Player &p, const char *file, const char *next, bool &soundfontExplained)
{
    if (auto opened = p.device.open(file); !opened) {
        // Where a soundfont was looked for is said once, with the advice; then only what failed.
        const bool noSoundfont = opened.error().code == tunedeck::Error::Code::NoSoundfont;
        std::fprintf(stderr, "tdplay: %s: %s\n", tdplay::shown(file).c_str(),
            noSoundfont && soundfontExplained ? tunedeck::errorText(opened.error().code)
                                              : describe(opened.error()).c_str());
        if (noSoundfont && !soundfontExplained) {
            std::fprintf(stderr, "tdplay: %s\n", tunedeck::soundfontAdvice());
            soundfontExplained = true;
        }
        return Outcome::Failed;
    }
    // Each file starts with the channels the command line chose; the rest carries on.
    p.settings.muted = p.chosen.muted;
    p.settings.soloed = p.chosen.soloed;
    p.settings.applyTo(p.device);
    {
        std::lock_guard lock(p.mutex);
        p.finished = p.failed = false;
    }
    p.device.play();
    if (next)
        p.device.prefetch(next);
    bool paused = false;
    // The file, its position and length (read each time: a large song's length is known once it
    // has been read), then `more`, fitted to the terminal.
    const auto lineOf = [&p, file](const std::string &more) {
        return tdplay::statusLine(tdplay::shown(file),
            "  " + formatTime(p.device.positionMs()) + " / " + formatTime(p.device.lengthMs())
                + more,
            tdplay::terminalColumns());
    };
    Outcome outcome = Outcome::Played;
    for (;;) {
        if (p.showStatus && inForeground(STDERR_FILENO)) {
            const std::string settings
                = p.settings.describe(p.device.kind() != tunedeck::MediaKind::Wave);
            std::fprintf(stderr, "\r%s\x1b[K",
                lineOf((settings.empty() ? "" : "  " + settings) + (paused ? "  (paused)" : ""))
                    .c_str());
            if (p.lyrics)
                showLyricLine(p.device);
            std::fflush(stderr);
        }
        if (g_interrupted) {
            outcome = Outcome::Interrupted;
            break;
        }
        if (p.keys) {
            char other = 0;
            const Key key = readKey(kStatusInterval, &other);
            if (key == Key::Other && p.settings.onKey(other, &readPlainKey)) {
                p.settings.applyTo(p.device);
            } else if (key == Key::PauseResume) {
                paused = !paused;
                if (paused)
                    p.device.pause();
                else
                    p.device.play();
            } else if (key == Key::Back || key == Key::Forward) {
                // A seek starts a new run; a notice of the old one no longer counts.
                seekBy(p.device, key == Key::Back ? -5000 : 5000, paused);
            } else if (key == Key::Next) {
                outcome = Outcome::Next;
                break;
            } else if (key == Key::Quit) {
                outcome = Outcome::Quit;
                break;
            }
            std::lock_guard lock(p.mutex);
            if (p.finished && p.finishedRun == p.device.runId())
                break;
        } else {
            std::unique_lock lock(p.mutex);
            if (p.changed.wait_for(lock, kStatusInterval, [&] { return p.finished; }))
                break;
        }
    }
    p.device.stop();
    const bool lineShown = p.showStatus && inForeground(STDERR_FILENO);
    if (lineShown && p.lyrics && !p.device.text().lyrics.empty())
        std::fputs("\n\x1b[2K\x1b[1A", stderr); // the lyric line goes
    if (lineShown)
        std::fprintf(stderr, "\r%s\x1b[K\n", lineOf("").c_str());
    bool failed = false;
    {
        std::lock_guard lock(p.mutex);
        failed = p.finished && p.failed;
    }
    if (outcome == Outcome::Played && failed) {
        std::fprintf(stderr, "tdplay: %s: %s\n", tdplay::shown(file).c_str(),
            describe(p.device.lastFailure()).c_str());
        return Outcome::Failed;
    }
    return outcome;
}

// What the command line asks for. Options may come in any order, before or among the files;
// `--` ends them, so a file whose name starts with '-' can follow it.
struct Options {
    enum class Mode { Play, Info, Render };
    Mode mode = Mode::Play;
    std::vector<const char *> files;
    const char *renderTo = nullptr; // --render's output
    bool pcm16 = false;
    bool verbose = false;
    bool lyrics = true;
    std::vector<std::filesystem::path> soundfonts; // every --soundfont, the first winning
    std::uint64_t maxSeconds = 0; // 0: the whole song
    bool maxSecondsGiven = false;
    tunedeck::OutputMode output = tunedeck::OutputMode::Auto;
    ListenerSettings listener;
};

// The longest --max-seconds: the longest song the engine keeps time for (2^32 ms).
constexpr std::uint64_t kMaxSeconds = 4'294'967;

// An option's effect: nothing when `value` is accepted, else the one-line reason it is not.
using Apply = std::optional<std::string> (*)(Options &, const char *value);

struct OptionRule {
    std::string_view name;
    std::string_view shortName; // empty when there is none
    bool takesValue;
    Apply apply;
    bool optionalValue = false; // a whole number right after it is its value
};

// Reads a whole decimal number from `text` into `value`: no sign, no spaces, no other digits
// around it, and no larger than `max`.
bool readWholeNumber(const char *text, std::uint64_t max, std::uint64_t &value)
{
    const std::string_view digits(text);
    if (digits.empty() || digits.size() > 19
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::strtoull(text, nullptr, 10);
    return value <= max;
}

// Every option but --help and --version. A new option is one more row.
const OptionRule kOptions[] = {
    { "--info", "", false,
        [](Options &o, const char *) -> std::optional<std::string> {
            if (o.mode == Options::Mode::Render)
                return "--info and --render do not go together";
            o.mode = Options::Mode::Info;
            return std::nullopt;
        } },
    { "--verbose", "-v", false,
        [](Options &o, const char *) -> std::optional<std::string> {
            o.verbose = true;
            return std::nullopt;
        } },
    { "--render", "", true,
        [](Options &o, const char *value) -> std::optional<std::string> {
            if (o.mode == Options::Mode::Info)
                return "--info and --render do not go together";
            if (o.renderTo)
                return "--render names one output";
            o.mode = Options::Mode::Render;
            o.renderTo = value;
            return std::nullopt;
        } },
    { "--pcm16", "", false,
        [](Options &o, const char *) -> std::optional<std::string> {
            o.pcm16 = true;
            return std::nullopt;
        } },
    { "--max-seconds", "", true,
        [](Options &o, const char *value) -> std::optional<std::string> {
            o.maxSecondsGiven = true;
            if (!readWholeNumber(value, kMaxSeconds, o.maxSeconds) || o.maxSeconds == 0)
                return "--max-seconds takes a whole number of seconds from 1 to "
                    + std::to_string(kMaxSeconds);
            return std::nullopt;
        } },
    { "--soundfont", "", true,
        [](Options &o, const char *value) -> std::optional<std::string> {
            o.soundfonts.emplace_back(value);
            tunedeck::chooseSoundfonts(o.soundfonts);
            return std::nullopt;
        } },
    { "--no-lyrics", "", false,
        [](Options &o, const char *) -> std::optional<std::string> {
            o.lyrics = false;
            return std::nullopt;
        } },
    { "--gain", "", true,
        [](Options &, const char *value) -> std::optional<std::string> {
            char *end = nullptr;
            const double gain = std::strtod(value, &end);
            if (end == value || *end != '\0' || !(gain >= 0.0 && gain <= 10.0))
                return "--gain takes a number from 0 to 10";
            tunedeck::setSynthGain(gain);
            return std::nullopt;
        } },
    { "--transpose", "", true,
        [](Options &o, const char *value) { return readTranspose(value, o.listener); } },
    { "--tempo", "", true,
        [](Options &o, const char *value) { return readTempo(value, o.listener); } },
    { "--mute", "", true,
        [](Options &o, const char *value) -> std::optional<std::string> {
            if (auto refused = readChannels(value, o.listener.muted))
                return "--mute " + *refused;
            return std::nullopt;
        } },
    { "--solo", "", true,
        [](Options &o, const char *value) -> std::optional<std::string> {
            if (auto refused = readChannels(value, o.listener.soloed))
                return "--solo " + *refused;
            return std::nullopt;
        } },
    { "--loop", "", false,
        [](Options &o, const char *value) { return readLoop(value, o.listener); }, true },
    { "--output", "", true,
        [](Options &o, const char *value) -> std::optional<std::string> {
            if (std::string_view(value) == "null")
                o.output = tunedeck::OutputMode::Null;
            else if (std::string_view(value) == "sdl")
                o.output = tunedeck::OutputMode::Sdl;
            else
                return "--output takes null or sdl";
            return std::nullopt;
        } },
};

const OptionRule *findOption(std::string_view arg)
{
    for (const OptionRule &rule : kOptions) {
        if (arg == rule.name || (!rule.shortName.empty() && arg == rule.shortName))
            return &rule;
    }
    return nullptr;
}

// The command line read into Options, or the exit status to leave with at once (after --help,
// --version or a wrong command line, whose one-line reason is printed).
struct CommandLine {
    Options options;
    std::optional<int> exitStatus;
};

// Whether all that went to standard output reached it: a listing lost to a full disk is a
// failure, not a success. The exit status: `status`, or 1 when the output failed.
int finishOutput(int status)
{
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout))
        return status;
    std::fprintf(
        stderr, "tdplay: standard output: %s\n", flushed ? "a write failed" : std::strerror(error));
    return std::max(status, 1);
}

int wrongCommandLine(const std::string &reason)
{
    std::fprintf(stderr, "tdplay: %s\n", reason.c_str());
    return 2;
}

// Whether the options read make sense together; the reason when they do not.
std::optional<std::string> checkCombination(const Options &o)
{
    if (o.mode != Options::Mode::Render && (o.pcm16 || o.maxSecondsGiven))
        return std::string(o.pcm16 ? "--pcm16" : "--max-seconds") + " goes with --render";
    if (o.mode != Options::Mode::Info && o.verbose)
        return std::string("-v goes with --info");
    if (o.files.empty())
        return std::string("no file named");
    if (o.mode == Options::Mode::Render && o.files.size() != 1)
        return std::string("--render takes one file");
    if (o.mode == Options::Mode::Render && o.listener.loopCount == tunedeck::Device::kLoopForever)
        return std::string("--render plays a file a number of times: --loop N");
    return std::nullopt;
}

CommandLine parseCommandLine(std::span<char *const> args)
{
    CommandLine line;
    Options &options = line.options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
            options.files.push_back(args[i]);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            printUsage(stdout);
            line.exitStatus = 0;
            return line;
        }
        if (arg == "--version") {
            std::printf("tdplay %s\n", kVersion);
            line.exitStatus = 0;
            return line;
        }
        const OptionRule *rule = findOption(arg);
        if (!rule) {
            line.exitStatus = wrongCommandLine("unknown option " + std::string(arg));
            return line;
        }
        const char *value = nullptr;
        const auto allDigits = [](std::string_view text) {
            return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
                return c >= '0' && c <= '9';
            });
        };
        if (rule->optionalValue && i + 1 < args.size() && allDigits(args[i + 1])) {
            value = args[++i];
        } else if (rule->takesValue) {
            // A value that is itself an option means the value was left out.
            if (i + 1 == args.size() || findOption(args[i + 1])) {
                line.exitStatus = wrongCommandLine(std::string(arg) + " needs a value");
                return line;
            }
            value = args[++i];
        }
        if (auto refused = rule->apply(options, value)) {
            line.exitStatus = wrongCommandLine(*refused);
            return line;
        }
    }
    if (args.empty()) {
        printUsage(stderr);
        line.exitStatus = 2;
    } else if (auto refused = checkCombination(options)) {
        line.exitStatus = wrongCommandLine(*refused);
    }
    return line;
}

// Plays the files one after another through the real output; the exit status.
int playFiles(const Options &options)
{
    std::mutex mutex;
    std::condition_variable changed;
    bool finished = false;
    bool failed = false;
    std::uint32_t finishedRun = 0;
    tunedeck::Device device(
        [&](tunedeck::Notice notice) {
            // On the engine's notice thread.
            std::lock_guard lock(mutex);
            finished = true;
            finishedRun = notice.runId;
            failed = notice.kind == tunedeck::Notice::Kind::Failed;
            changed.notify_all();
        },
        options.output);
    installInterruptHandler();
    const KeyboardMode keyboard;
    Player player { device, mutex, changed, finished, failed, finishedRun,
        ::isatty(STDERR_FILENO) == 1, keyboard.active(), options.lyrics, options.listener,
        options.listener };
    int status = 0;
    bool soundfontExplained = false;
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        const char *next = i + 1 < options.files.size() ? options.files[i + 1] : nullptr;
        const Outcome outcome = play(player, options.files[i], next, soundfontExplained);
        if (outcome == Outcome::Failed)
            status = 1;
        if (outcome == Outcome::Quit)
            break;
        if (outcome == Outcome::Interrupted)
            return interruptedStatus();
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    const CommandLine line
        = parseCommandLine(std::span<char *const>(argv + 1, std::size_t(argc > 0 ? argc - 1 : 0)));
    if (line.exitStatus)
        return finishOutput(*line.exitStatus); // --help and --version print to stdout
    Options options = line.options;
    // Other players' play lists stand for their entries, except for --render's one file.
    bool listFailed = false;
    std::vector<std::string> names;
    if (options.mode != Options::Mode::Render) {
        names = tdplay::expandPlayLists(options.files, listFailed);
        options.files.clear();
        for (const std::string &name : names)
            options.files.push_back(name.c_str());
    }
    switch (options.mode) {
    case Options::Mode::Info:
        return finishOutput(std::max(info(options.files, options.verbose), listFailed ? 1 : 0));
    case Options::Mode::Render:
        return render(options.renderTo, options.files.front(), options.pcm16, options.maxSeconds,
            options.listener);
    case Options::Mode::Play:
        break;
    }
    const int status = playFiles(options);
    return status == 0 && listFailed ? 1 : status;
}
