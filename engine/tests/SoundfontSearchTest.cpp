// Where soundfonts are looked for: the files $TUNEDECK_SOUNDFONT names (stacked), the fixed
// places, then the XDG data folders in order; and a message naming every place when none is
// found. HOME and the XDG variables point into a scratch folder.
#include "tunedeck/Synth.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

class SoundfontSearch : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_root = fs::temp_directory_path() / ("tunedeck-sfsearch-" + std::to_string(::getpid()));
        fs::create_directories(m_root);
        ::setenv("HOME", (m_root / "home").c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        ::setenv("XDG_DATA_DIRS",
            (m_root.string() + "/local:" + m_root.string() + "/system").c_str(), 1);
        ::unsetenv("TUNEDECK_SOUNDFONT");
    }
    void TearDown() override { fs::remove_all(m_root); }

    // A file at `relative`: by default the header of an empty soundfont, whole.
    fs::path touch(const std::string &relative,
        std::string_view contents = std::string_view("RIFF\x04\0\0\0sfbk", 12))
    {
        const fs::path path = m_root / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path) << contents;
        return path;
    }
    std::vector<fs::path> found(std::span<const char *const> fixed = {})
    {
        const auto result = tunedeck::findSoundfonts(fixed);
        return result.ok() ? result.value() : std::vector<fs::path> {};
    }

    fs::path m_root;
};

} // namespace

TEST_F(SoundfontSearch, XdgFoldersAfterTheFixedPlacesInOrder)
{
    const std::string r = m_root.string();
    const auto error = tunedeck::findSoundfonts({});
    ASSERT_FALSE(error.ok());
    EXPECT_EQ(error.error().code, tunedeck::Error::Code::NoSoundfont);
    EXPECT_EQ(error.error().detail,
        "looked for $TUNEDECK_SOUNDFONT (not set), then any .sf2 or .sf3 file in " + r
            + "/home/.local/share/sounds/sf2, " + r + "/home/.local/share/sounds/sf3, " + r
            + "/home/.local/share/soundfonts, " + r + "/local/sounds/sf2, " + r
            + "/local/sounds/sf3, " + r + "/local/soundfonts, " + r + "/system/sounds/sf2, " + r
            + "/system/sounds/sf3, " + r + "/system/soundfonts");

    // Each step adds a font to a place searched earlier than the last, which then wins; what
    // is no soundfont, or one cut short, is passed over.
    const std::string_view whole("RIFF\x04\0\0\0sfbk", 12);
    const struct {
        const char *file;
        std::string_view contents;
    } steps[] = { { "system/soundfonts/z.SF3", whole }, { "system/sounds/sf3/b.sf3", whole },
        { "system/sounds/sf2/notes.txt", whole }, { "local/soundfonts/m.sf2", whole },
        { "home/.local/share/sounds/sf2/b.sf2", whole },
        { "home/.local/share/sounds/sf2/a-empty.sf2", "" },
        { "home/.local/share/sounds/sf2/a-cut.sf2", std::string_view("RIFF\x40\0\0\0sfbk", 12) },
        { "home/.local/share/sounds/sf2/a.sf2", whole } };
    fs::path winner;
    for (const auto &step : steps) {
        const fs::path added = touch(step.file, step.contents);
        if (added.extension() != ".txt" && step.contents == whole)
            winner = added;
        EXPECT_EQ(found(), std::vector<fs::path> { winner }) << step.file;
    }
    ::setenv("XDG_DATA_HOME", (m_root / "data").c_str(), 1);
    const fs::path own = touch("data/soundfonts/own.sf2");
    EXPECT_EQ(found(), std::vector<fs::path> { own });

    // A fixed place holding a font cut short, or no font, leaves the next its turn.
    const std::string cut
        = touch("fixed/cut.sf2", std::string_view("RIFF\x40\0\0\0sfbk", 12)).string();
    const std::string empty = touch("fixed/empty.sf2", "").string();
    const std::string fixed = touch("fixed/GM.sf2").string();
    const char *const places[]
        = { "/nonexistent/a.sf2", cut.c_str(), empty.c_str(), fixed.c_str() };
    EXPECT_EQ(found(places), std::vector<fs::path> { fixed });
}

TEST_F(SoundfontSearch, ChosenFilesAreStackedInTheirOrder)
{
    const fs::path a = touch("a.sf2");
    const fs::path b = touch("b.sf3");
    touch("home/.local/share/sounds/sf2/ignored.sf2");
    ::setenv("TUNEDECK_SOUNDFONT", (b.string() + "::" + a.string() + ":").c_str(), 1);
    EXPECT_EQ(found(), (std::vector<fs::path> { b, a }));

    ::setenv("TUNEDECK_SOUNDFONT", (a.string() + ":" + (m_root / "gone.sf2").string()).c_str(), 1);
    const auto missing = tunedeck::findSoundfonts({});
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().detail.find((m_root / "gone.sf2").string() + " is not a readable"),
        std::string::npos);
}
