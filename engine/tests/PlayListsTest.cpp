// Play lists from other players: each format with relative, absolute, URI and refused entries,
// encodings, and hostile lists that must be refused or read within their limits.
#include "tunedeck/PlayLists.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tunedeck::playlists;

namespace {

class PlayListFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = fs::temp_directory_path() / ("tunedeck-playlists-" + std::to_string(::getpid()));
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    fs::path write(const std::string &name, const std::string &bytes)
    {
        const fs::path path = m_folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    fs::path m_folder;
};

struct ListCase {
    const char *name;
    std::string bytes;
    std::vector<std::string> files; // relative ones are under the list's folder
    std::vector<std::string> refused;
};

} // namespace

TEST_F(PlayListFiles, EachFormatGivesItsEntriesInOrder)
{
    const ListCase cases[] = {
        { "list.m3u",
            "#EXTM3U\n#EXTINF:123,Artist - Song\nsong.mid\r\n  /abs/path.wav \n\n# comment\n"
            "file:///music/a%20b%E9.mid\nhttp://example.org/x.mid\nsub/c.rmi\n"
            // A colon without "//" is part of a name; file: has a short form.
            "Bach: Air.mid\n12:30.mid\nfile:/short%20form.mid\nfile:relative.mid\n",
            { "song.mid", "/abs/path.wav", "/music/a b\xe9.mid", "sub/c.rmi", "Bach: Air.mid",
                "12:30.mid", "/short form.mid" },
            { "http://example.org/x.mid", "file:relative.mid" } },
        { "latin1.M3U",
            "\xef\xbb\xbf"
            "caf\xe9.mid\nfile://localhost/x.wav\nfile://server/y.wav\n",
            { "caf\xe9.mid", "/x.wav" }, { "file://server/y.wav" } },
        { "utf8.m3u8", "#EXTM3U\nRésumé.mid\n", { "Résumé.mid" }, {} },
        { "mac.m3u", "#EXTM3U\r#EXTINF:1,A\ra.mid\rb.mid\r", { "a.mid", "b.mid" }, {} },
        { "list.pls",
            "[playlist]\nFile=last.mid\nNumberOfEntries=4\nFile2=b.mid\nTitle2=B\n"
            "File1=/abs/a.mid\nfile3 = file:///c%20d.wav\nFile10=http://radio/x\nVersion=2\n",
            { "/abs/a.mid", "b.mid", "/c d.wav", "last.mid" }, { "http://radio/x" } },
        { "list.xspf",
            "<?xml version=\"1.0\"?><!-- <trackList><location>old.mid</location> -->"
            "<playlist><location>http://x/list.xspf</location><trackList>"
            "<!-- <location>commented.mid</location> -->"
            "<track><location>file:///m/R%C3%A9sum%C3%A9.mid</location></track>"
            "<track><location> relative/b&amp;c%20d.wav </location></track>"
            "<track><location>https://example.org/s</location></track>"
            "<track><location>&#x2F;abs&#47;d.mid</location></track></trackList></playlist>",
            { "/m/Résumé.mid", "relative/b&c d.wav", "/abs/d.mid" }, { "https://example.org/s" } },
        // A track's locations are the same song in other places: the first local one plays.
        // Tags with white space and attributes, CDATA, an empty location.
        { "alternatives.xspf",
            "<trackList><track><location>first.mid</location><location>again.mid</location>"
            "</track><track><location>http://x/y.mid</location><location>here.mid</location>"
            "</track><track><location>http://x/only.mid</location><location>ftp://x/z</location>"
            "</track><track ><location\n xml:base=\"x\" >spaced.mid</location\n></track >"
            "<track><location><![CDATA[file:///m/a&amp;b.mid]]></location></track>"
            "<track><location/></track><track><location>last.mid</location></track></trackList>",
            { "first.mid", "here.mid", "spaced.mid", "/m/a&amp;b.mid", "last.mid" },
            { "http://x/only.mid" } },
        // Locations taken against the xml:base of their tag, track, track list and play list.
        { "based.xspf",
            "<playlist xml:base=\"file:///m/\"><trackList xml:base='j%20z/'>"
            "<track><location>a%20b.mid</location></track>"
            "<track xml:base=\"/o/\"><location>c.mid</location></track>"
            "<track><location xml:base=\"http://radio\">d.mid</location></track>"
            "<track><location>../e.mid</location><location>/abs/f.mid</location></track>"
            "<track data-xml:base=\"x/\" xml:base =\"\"><location>//h/g.mid</location>"
            "<location>http://x/g.mid</location></track></trackList></playlist>",
            { "/m/j z/a b.mid", "/o/c.mid", "/m/j z/../e.mid" },
            { "http://radio/d.mid", "file://h/g.mid" } },
    };
    for (const ListCase &c : cases) {
        std::string why;
        const auto entries = read(write(c.name, c.bytes), &why);
        ASSERT_TRUE(entries.has_value()) << c.name << ": " << why;
        std::vector<fs::path> expected;
        for (const std::string &file : c.files)
            expected.push_back(file.starts_with('/') ? fs::path(file) : m_folder / file);
        EXPECT_EQ(entries->files, expected) << c.name;
        EXPECT_EQ(entries->refused, c.refused) << c.name;
        EXPECT_FALSE(entries->truncated) << c.name;
    }
}

// Lists written on Windows separate folders with backslashes, and their names in Windows-1252:
// read with slashes, and as UTF-8, where that names a file and the name as written does not. The
// list's own folder is named as the file system names it.
TEST_F(PlayListFiles, WindowsFolderSeparatorsFindTheirFiles)
{
    const fs::path folder = m_folder / "M\xc3\xbcsik";
    fs::create_directories(folder / "Music");
    write("M\xc3\xbcsik/Music/song.mid", "");
    write("M\xc3\xbcsik/odd\\name.mid", "");
    write("M\xc3\xbcsik/Music/Caf\xc3\xa9.mid", ""); // named in UTF-8, listed in Windows-1252
    const auto entries = read(write("M\xc3\xbcsik/win.m3u",
                                  "Music\\song.mid\r\nodd\\name.mid\r\nMusic\\gone.mid\r\n"
                                  "Music\\Caf\xe9.mid\r\n"),
        nullptr);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->files,
        (std::vector<fs::path> { folder / "Music/song.mid", folder / "odd\\name.mid",
            folder / "Music\\gone.mid", folder / "Music/Caf\xc3\xa9.mid" }));
}

// Lists that are no lists, too large or too long: refused unread, or read up to the limit.
TEST_F(PlayListFiles, HostileListsAreRefusedOrCutAtTheirLimits)
{
    std::string why;
    EXPECT_FALSE(read(write("songs.txt", "a.mid\n"), &why));
    EXPECT_EQ(why, "not a play list by its name");
    EXPECT_FALSE(read(m_folder / "missing.m3u", &why));
    EXPECT_FALSE(read(write("junk.m3u", std::string("a.mid\n\0\x01\xff", 9)), &why));
    EXPECT_EQ(why, "not text");

    // A gigabyte on one line, sparse: refused by its size without being read.
    const fs::path huge = write("huge.m3u", "");
    fs::resize_file(huge, std::uintmax_t(1) << 30);
    EXPECT_FALSE(read(huge, &why));
    EXPECT_EQ(why, "larger than any play list can be");

    // A million entries: the first kMaxEntries are kept (of a .pls, the lowest numbers).
    std::string many;
    std::string descending;
    for (int i = 0; i < 1'000'000; ++i)
        many += "s.mid\n";
    for (std::size_t i = kMaxEntries + 2; i > 0; --i)
        descending += "File" + std::to_string(i) + "=s" + std::to_string(i) + ".mid\n";
    for (const auto &[name, bytes] :
        { std::pair { "many.m3u", many }, std::pair { "descending.pls", descending },
            std::pair { "many.xspf", "<trackList>" + std::string(200'000 / 2, ' ') + [] {
                           std::string tracks;
                           for (std::size_t i = 0; i <= kMaxEntries; ++i)
                               tracks += "<location>s.mid</location>";
                           return tracks;
                       }() } }) {
        const auto entries = read(write(name, bytes), &why);
        ASSERT_TRUE(entries.has_value()) << name << ": " << why;
        ASSERT_EQ(entries->files.size(), kMaxEntries) << name;
        EXPECT_TRUE(entries->truncated) << name;
        if (std::string(name) == "descending.pls") {
            EXPECT_EQ(entries->files.front().filename(), "s1.mid");
        }
    }

    // Eight megabytes of ampersands that never end a reference: read in one pass, refused as
    // too long a name.
    const auto amps = read(
        write("amps.xspf", "<trackList><location>" + std::string(8 << 20, '&') + "</location>"),
        &why);
    ASSERT_TRUE(amps.has_value()) << why;
    ASSERT_EQ(amps->refused.size(), 1u);
    EXPECT_EQ(amps->refused[0], std::string(64, '&') + "...");

    // An entry longer than any file name is refused, shortened; the list naming itself is an
    // entry like any other (the caller finds it is no song).
    const auto entries = read(write("self.m3u", std::string(10'000, 'x') + "\nself.m3u\n"), &why);
    ASSERT_TRUE(entries.has_value());
    EXPECT_EQ(entries->files, std::vector<fs::path> { m_folder / "self.m3u" });
    ASSERT_EQ(entries->refused.size(), 1u);
    EXPECT_EQ(entries->refused[0], std::string(64, 'x') + "...");
}
