// What files say about themselves: song titles, copyright, markers, lyrics with their times and
// the karaoke conventions, text encodings, and the title and artist of wave files.
#include "tunedeck/SongText.h"
#include "tunedeck/Device.h"
#include "tunedeck/MidiFile.h"

#include "testsupport/MidiWriter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace tunedeck;
using testsupport::SmfWriter;
using testsupport::TrackWriter;

namespace {

constexpr std::uint8_t kText = 0x01;
constexpr std::uint8_t kCopyright = 0x02;
constexpr std::uint8_t kName = 0x03;
constexpr std::uint8_t kLyric = 0x05;
constexpr std::uint8_t kMarker = 0x06;

// 480 ticks a quarter at 500 000 µs a quarter: one tick is 1041.666 µs, 480 ticks half a second.
SongText textOf(const SmfWriter &writer)
{
    const auto song = MidiFile::parse(writer.bytes());
    EXPECT_TRUE(song.ok());
    return song.ok() ? song.value().text() : SongText {};
}

struct TitleCase {
    const char *what;
    int format;
    std::vector<std::string> names; // one track per entry, named unless empty
    std::string title;
};

class SongTitles : public ::testing::TestWithParam<TitleCase> { };

} // namespace

TEST_P(SongTitles, TitleIsTheFirstTracksName)
{
    const TitleCase &c = GetParam();
    SmfWriter writer(c.format, 480);
    for (const std::string &name : c.names) {
        TrackWriter track;
        track.noteOn(0, 0, 60, 90);
        if (!name.empty())
            track.text(10, kName, name);
        writer.track(track.text(0, kName, "later name").endOfTrack(10));
    }
    EXPECT_EQ(textOf(writer).title, c.title) << c.what;
}

INSTANTIATE_TEST_SUITE_P(MidiText, SongTitles,
    ::testing::Values(TitleCase { "format 0", 0, { "Ode to Joy" }, "Ode to Joy" },
        TitleCase { "format 1, first track", 1, { "  Für Elise \t", "Piano" }, "Für Elise" },
        TitleCase { "format 1, first track unnamed", 1, { "", "Piano" }, "later name" },
        TitleCase { "format 2 has no one title", 2, { "Pattern A", "Pattern B" }, "" },
        TitleCase { "Windows-1252 name", 0, { "Caf\xe9 \x93Noir\x94" }, "Café “Noir”" }));

TEST(MidiText, TextBytesAreUtf8OrWindows1252)
{
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {
        { "plain", "plain" },
        { "Grüße, 日本, 🎵", "Grüße, 日本, 🎵" },
        { "\x80 \x85 \x99", "€ … ™" },
        { "na\xefve", "naïve" },
        { "\xc0\xaf", "À¯" }, // an overlong '/' is not UTF-8
        { "\xed\xa0\x80", "í\u00a0€" }, // nor is a surrogate
        { "\xf4\x90\x80\x80", "ô€€" }, // nor a code point past U+10FFFF (0x90 is undefined)
        { "cut \xe6\x97", "cut æ—" },
        { "a\x81z", "az" }, // undefined in Windows-1252
        { "tab\tline\r\nend\x7f", "tab\tlineend" },
        { "a\xc2\x9b"
          "2J\xc2\x9c\xc2\xa0z",
            "a2J\u00a0z" }, // C1 controls go, as C0 ones do
        { std::string("name\0\0", 6), "name" },
        { "\xef\xbb\xbf"
          "BOM",
            "BOM" },
    };
    for (const auto &c : cases) {
        const auto *data = reinterpret_cast<const std::uint8_t *>(c.bytes.data());
        EXPECT_EQ(textFromBytes({ data, c.bytes.size() }), c.text) << c.bytes;
    }
}

// Lyric events with their times; a line feed or '/' before a syllable starts a line, '\' a
// paragraph, a line feed after one starts a line with the next; copyright and markers too.
TEST(MidiText, LyricEventsKeepTheirTimesAndLines)
{
    TrackWriter track;
    track.text(0, kCopyright, "(c) 1999 Somebody").text(0, kCopyright, "second copyright");
    track.text(0, kLyric, "Hap").text(480, kLyric, "py ").text(480, kLyric, "day\r");
    track.text(480, kMarker, "Chorus").text(0, kLyric, "to ").text(240, kLyric, "/you");
    track.text(240, kLyric, "\\Next").text(480, kLyric, "").endOfTrack(0);
    const SongText text = textOf(SmfWriter(0, 480).track(track));

    EXPECT_EQ(text.copyright, "(c) 1999 Somebody");
    ASSERT_EQ(text.markers.size(), 1u);
    EXPECT_EQ(text.markers[0].text, "Chorus");
    EXPECT_EQ(text.markers[0].timeUs, 1'500'000);
    std::vector<std::pair<std::int64_t, std::string>> timed;
    for (const Syllable &s : text.lyrics)
        timed.emplace_back(s.timeUs, s.text);
    const std::vector<std::pair<std::int64_t, std::string>> expected { { 0, "Hap" },
        { 500'000, "py " }, { 1'000'000, "day" }, { 1'500'000, "to " }, { 1'750'000, "you" },
        { 2'000'000, "Next" } };
    EXPECT_EQ(timed, expected);
    EXPECT_EQ(lyricsText(text), "Happy day\nto \nyou\n\nNext");

    // The current line at a few times: what is sung and what is still to come.
    const struct {
        std::int64_t timeUs;
        const char *sung;
        const char *rest;
    } lines[] = {
        { -1, "", "Happy day" },
        { 0, "Hap", "py day" },
        { 999'999, "Happy ", "day" },
        { 1'000'000, "Happy day", "" },
        { 1'500'000, "to ", "" },
        { 1'750'000, "you", "" },
        { 9'000'000, "Next", "" },
    };
    for (const auto &l : lines) {
        const LyricLine line = lyricLineAt(text, l.timeUs);
        EXPECT_EQ(line.sung, l.sung) << l.timeUs;
        EXPECT_EQ(line.rest, l.rest) << l.timeUs;
    }
    EXPECT_EQ(lyricLineAt(SongText {}, 0).rest, "");
}

// A line break inside a lyric event starts a line there; the words copied on a second track
// at the same times are sung once.
TEST(MidiText, LineBreaksInsideEventsAndCopiedWords)
{
    SmfWriter writer(1, 480);
    for (const bool copy : { false, true }) {
        TrackWriter track;
        track.text(0, kLyric, "Hap").text(480, kLyric, "py ").text(480, kLyric, "/to you");
        if (copy)
            track.text(480, kLyric, "/first line\r\nsecond").text(0, kLyric, " line");
        writer.track(track.endOfTrack(0));
    }
    const SongText text = textOf(writer);
    EXPECT_EQ(lyricsText(text), "Happy \nto you\nfirst line\nsecond line");
    EXPECT_EQ(lyricLineAt(text, 1'500'000).sung, "second line");
}

// Japanese songs are mostly in Shift-JIS: a song's text is read so when all of it that is not
// UTF-8 is Shift-JIS with a kana in it, and else stays Windows-1252, a song at a time.
TEST(MidiText, ShiftJisSongsAreToldFromWindows1252Ones)
{
    const struct {
        const char *what;
        std::string title;
        std::vector<std::string> lyrics;
        std::string titleText;
        std::string lyricsText;
    } cases[] = {
        { "kanji title, kana lyrics", "\x8d\xf7", { "\x82\xb3", "\x82\xad", "\x82\xe7" }, "桜",
            "さくら" },
        { "half-width kana, katakana, UTF-8 beside", "\xb1\xb2", { "\x83\x4e\x83\x8a", "ド" }, "ｱｲ",
            "クリド" },
        { "kanji only: Windows-1252, as accented letters form kanji too",
            "R\xe9\xe9"
            "dition",
            { "l\x92\xe9", "toile" }, "Réédition", "l’étoile" },
        { "capitals that are half-width katakana too", "\xc4\xd6\xdc Lied", {}, "ÄÖÜ Lied", "" },
        { "a byte-order mark before Shift-JIS",
            "\xef\xbb\xbf\x83^\x83"
            "C\x83g\x83\x8b",
            {}, "タイトル", "" },
        { "one event not Shift-JIS", "caf\xe9 ", { "\x82\xb3" }, "café", "‚³" },
    };
    for (const auto &c : cases) {
        TrackWriter track;
        track.text(0, kName, c.title);
        for (const std::string &lyric : c.lyrics)
            track.text(240, kLyric, lyric);
        const SongText text = textOf(SmfWriter(0, 480).track(track.endOfTrack(0)));
        EXPECT_EQ(text.title, c.titleText) << c.what;
        EXPECT_EQ(lyricsText(text), c.lyricsText) << c.what;
    }
}

// A .kar file: text events after the header are the lyrics, "@T" lines the title and then the
// artist, other '@' lines are about the file; text events before the header, or on a track with
// fewer of them (an instrument's notes), are not sung.
TEST(MidiText, KaraokeTextEventsAreTheLyrics)
{
    TrackWriter first;
    first.text(0, kName, "Soft Karaoke").text(0, kText, "Sequenced by someone").endOfTrack(0);
    TrackWriter words;
    words.text(0, kName, "Words").text(0, kText, "@KMIDI KARAOKE FILE");
    words.text(0, kText, "@V0100").text(0, kText, "@LENGL").text(0, kText, "@TYesterday");
    words.text(0, kText, "@TThe Beatles").text(0, kText, "@TCopyright whoever");
    words.text(0, kText, "@IExtra info").text(0, kLyric, "ignored lyric event");
    words.text(480, kText, "\\Yes").text(240, kText, "ter").text(240, kText, "day ");
    words.text(480, kText, "/all my").text(480, kText, "\\trou\xe9les").endOfTrack(0);
    TrackWriter piano;
    piano.text(0, kName, "Piano").text(600, kText, "Piano: GM 1").text(600, kText, "verse 2");
    const SongText text
        = textOf(SmfWriter(1, 480).track(first).track(piano.endOfTrack(0)).track(words));

    EXPECT_EQ(text.title, "Yesterday");
    EXPECT_EQ(text.artist, "The Beatles");
    EXPECT_EQ(lyricsText(text), "Yesterday \nall my\n\ntrouéles");
    ASSERT_FALSE(text.lyrics.empty());
    EXPECT_EQ(text.lyrics[0].timeUs, 500'000);
    EXPECT_EQ(lyricLineAt(text, 1'600'000).sung, "all my");

    // A file named .kar without the header line: its text events are its words all the same
    // (the lyric event aside, which a song with its words in text events does not count on);
    // under another name they are not.
    TrackWriter bare;
    bare.text(0, kName, "Words").text(0, kText, "@TYesterday").text(480, kText, "\\Yes");
    bare.text(240, kText, "ter").text(240, kText, "day").endOfTrack(0);
    const auto bytes = SmfWriter(1, 480).track(first).track(bare).bytes();
    for (const char *name : { "bare.kar", "bare.KAR", "bare.mid" }) {
        const auto path
            = std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + "-" + name);
        ASSERT_TRUE(testsupport::writeFile(path, bytes));
        const auto song = MidiFile::read(path);
        std::filesystem::remove(path);
        ASSERT_TRUE(song.ok());
        const bool karaoke = std::string_view(name) != "bare.mid";
        EXPECT_EQ(lyricsText(song.value().text()), karaoke ? "Yesterday" : "") << name;
        EXPECT_EQ(song.value().text().title, karaoke ? "Yesterday" : "Soft Karaoke") << name;
    }
}

// An RMI file's INFO list gives the title, artist and copyright its song's events leave out, in
// the song's code page.
TEST(MidiText, RmiInfoListFillsWhatTheEventsLeaveOut)
{
    const auto textOfRmi = [](const TrackWriter &track, const char *name) {
        const auto song
            = MidiFile::parse(testsupport::wrapRmi(SmfWriter(0, 480).track(track).bytes(), name, {},
                { { "IART", "The Players" }, { "ICOP", "(c) 1999 " } }));
        EXPECT_TRUE(song.ok());
        return song.ok() ? song.value().text() : SongText {};
    };
    const SongText info = textOfRmi(TrackWriter().noteOn(0, 0, 60, 90).endOfTrack(480), "Caf\xe9");
    EXPECT_EQ(info.title, "Café");
    EXPECT_EQ(info.artist, "The Players");
    EXPECT_EQ(info.copyright, "(c) 1999");
    // Its texts count as the events' do for the code page.
    EXPECT_EQ(textOfRmi(TrackWriter().endOfTrack(480), "\x82\xb3\x82\xad\x82\xe7").title, "さくら");
    const SongText own = textOfRmi(TrackWriter()
                                       .text(0, kName, "Own title")
                                       .text(0, kCopyright, "Own copyright")
                                       .endOfTrack(480),
        "Info title");
    EXPECT_EQ(own.title, "Own title");
    EXPECT_EQ(own.artist, "The Players");
    EXPECT_EQ(own.copyright, "Own copyright");
}

// Title, artist and copyright of a wave file's INFO list, through the device's probe and open.
TEST(WaveText, InfoListGivesTitleAndArtist)
{
    const auto path = std::filesystem::temp_directory_path()
        / ("tunedeck-wavetext-" + std::to_string(::getpid()) + ".wav");
    SF_INFO info {};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    sf_set_string(file, SF_STR_TITLE, "Morning M\xf6od");
    sf_set_string(file, SF_STR_ARTIST, "The Players");
    const std::vector<short> silence(800, 0);
    sf_write_short(file, silence.data(), sf_count_t(silence.size()));
    sf_close(file);

    const auto probed = Device::probe(path);
    ASSERT_TRUE(probed.ok());
    EXPECT_EQ(probed.value().text.title, "Morning Möod");
    EXPECT_EQ(probed.value().text.artist, "The Players");

    Device device(nullptr, OutputMode::Offline);
    ASSERT_TRUE(device.open(path).ok());
    EXPECT_EQ(device.text().title, "Morning Möod");
    device.close();
    EXPECT_EQ(device.text().title, "");
    std::filesystem::remove(path);
}
