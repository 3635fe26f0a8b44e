// The reader against files made elsewhere: the shared media folder with lengths measured by
// other tools, the example songs, and python3-mido's length for songs written by our writer.
#include "tunedeck/MidiFile.h"

#include "testsupport/MidiWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

using namespace tunedeck;
using testsupport::Bytes;
using testsupport::RunningStatus;
using testsupport::SmfWriter;
using testsupport::TrackWriter;
namespace fs = std::filesystem;

namespace {

struct ManifestRow {
    std::string file;
    std::string kind;
    double expectedMs = 0;
    std::string expect;
};

// manifest.tsv: file, kind, expected_ms, expect; a header line first.
std::vector<ManifestRow> readManifest(const fs::path &path)
{
    std::vector<ManifestRow> rows;
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream stream(line);
        for (std::string field; std::getline(stream, field, '\t');)
            fields.push_back(field);
        if (fields.size() < 4)
            continue;
        rows.push_back(
            { fields[0], fields[1], fields[2].empty() ? 0 : std::stod(fields[2]), fields[3] });
    }
    return rows;
}

std::string kindName(MidiKind kind)
{
    switch (kind) {
    case MidiKind::Smf0:
        return "smf0";
    case MidiKind::Smf1:
        return "smf1";
    case MidiKind::Smf2:
        return "smf2";
    case MidiKind::Rmi:
        return "rmi";
    }
    return "?";
}

// The environment names the folders; the build's own paths stand in when it does not.
fs::path folderFromEnvironment(const char *variable, const char *fallback)
{
    const char *dir = std::getenv(variable);
    return fs::path(dir && *dir ? dir : fallback);
}

fs::path mediaDir()
{
    return folderFromEnvironment("TUNEDECK_MEDIA_DIR", TUNEDECK_MEDIA_DIR_DEFAULT);
}

fs::path examplesDir()
{
    return folderFromEnvironment("TUNEDECK_SOURCE_DIR", TUNEDECK_SOURCE_DIR_DEFAULT) / "examples";
}

// A Python 3 that can import mido, or empty. Debian's python3-mido belongs to /usr/bin/python3,
// which another python3 earlier on PATH may hide.
std::string pythonWithMido()
{
    for (const char *candidate : { "/usr/bin/python3", "python3" }) {
        const std::string probe = std::string(candidate) + " -c 'import mido' >/dev/null 2>&1";
        if (std::system(probe.c_str()) == 0)
            return candidate;
    }
    return {};
}

// mido's length in seconds for each file, in order; fails the test if mido cannot say.
std::map<fs::path, double> midoLengths(
    const std::string &python, const std::vector<fs::path> &files)
{
    std::string command = python
        + " -c 'import sys, mido\nfor p in sys.argv[1:]: print(repr(mido.MidiFile(p).length))'";
    for (const fs::path &file : files)
        command += " '" + file.string() + "'";
    std::map<fs::path, double> lengths;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return lengths;
    }
    char line[256];
    for (const fs::path &file : files) {
        if (!std::fgets(line, sizeof line, pipe))
            break;
        lengths[file] = std::strtod(line, nullptr);
    }
    EXPECT_EQ(::pclose(pipe), 0) << command;
    EXPECT_EQ(lengths.size(), files.size());
    return lengths;
}

class ScratchDir {
public:
    ScratchDir()
        : m_path(fs::temp_directory_path() / ("tunedeck-media-" + std::to_string(::getpid())))
    {
        fs::create_directories(m_path);
    }
    ~ScratchDir() { fs::remove_all(m_path); }
    const fs::path &path() const { return m_path; }

private:
    fs::path m_path;
};

// Songs whose timing is easy to get subtly wrong: odd divisions, tempo changes in several
// tracks and between events, running status, sysex, a missing End of Track.
std::map<std::string, Bytes> timingFixtures()
{
    std::map<std::string, Bytes> songs;
    {
        TrackWriter track(RunningStatus::On);
        track.tempo(0, 451'263).program(0, 0, 19).noteOn(0, 0, 60, 90).noteOn(37, 0, 60, 0);
        track.tempo(11, 1'234'567).noteOn(95, 0, 62, 90).noteOn(95, 0, 62, 0).tempo(1, 99'999);
        track.noteOn(1000, 0, 64, 90).noteOn(3, 0, 64, 0).endOfTrack(777);
        songs["format0-odd-tempos.mid"] = SmfWriter(0, 96).track(track).bytes();
    }
    {
        TrackWriter conductor;
        conductor.tempo(0, 600'000).tempo(1000, 333'333).tempo(1, 800'001).endOfTrack(5000);
        TrackWriter lead(RunningStatus::On);
        lead.program(0, 0, 73).noteOn(0, 0, 72, 90).noteOn(480, 0, 72, 0).tempo(3, 450'000);
        const Bytes gmOn { 0x7E, 0x7F, 0x09, 0x01, 0xF7 };
        lead.sysex(1, gmOn).noteOn(0, 0, 74, 90).noteOn(2222, 0, 74, 0).endOfTrack(9000);
        TrackWriter bass;
        bass.noteOn(17, 1, 36, 90).tempo(700, 700'000).noteOff(4000, 1, 36).endOfTrack(1);
        songs["format1-tempos-in-every-track.mid"]
            = SmfWriter(1, 480).track(conductor).track(lead).track(bass).bytes();
    }
    {
        TrackWriter track;
        track.tempo(0, 333'333).noteOn(1, 0, 60, 90);
        for (int i = 0; i < 500; ++i)
            track.noteOn(1, 0, 60 + i % 12, i % 2 ? 0 : 80);
        track.endOfTrack(3);
        songs["format1-seven-ticks-per-quarter.mid"] = SmfWriter(1, 7).track(track).bytes();
    }
    {
        TrackWriter first;
        first.noteOn(0, 0, 60, 90).noteOff(100'000, 0, 60); // no End of Track
        TrackWriter second;
        second.tempo(50'000, 2'000'000).noteOn(3, 1, 40, 90).endOfTrack(20'000);
        songs["format1-missing-end-of-track.mid"]
            = SmfWriter(1, 960).track(first).track(second).bytes();
    }
    return songs;
}

} // namespace

// Every MIDI file the manifest says plays is read with its kind and its length to within 1 ms.
TEST(SharedMedia, ManifestSongsReadWithTheirLengths)
{
    const fs::path dir = mediaDir();
    if (dir.empty() || !fs::exists(dir / "manifest.tsv"))
        GTEST_SKIP() << "no shared media folder (TUNEDECK_MEDIA_DIR)";
    int checked = 0;
    for (const ManifestRow &row : readManifest(dir / "manifest.tsv")) {
        if (row.expect != "play" || row.kind == "wav")
            continue;
        const auto result = MidiFile::read(dir / row.file);
        ASSERT_TRUE(result.ok()) << row.file << ": " << result.error().detail;
        EXPECT_EQ(kindName(result.value().kind()), row.kind) << row.file;
        EXPECT_NEAR(result.value().lengthMs(), row.expectedMs, 1.0) << row.file;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// Every file the manifest says must be refused is refused, with a detail for people.
TEST(SharedMedia, ManifestRejectsAreRefused)
{
    const fs::path dir = mediaDir();
    if (dir.empty() || !fs::exists(dir / "manifest.tsv"))
        GTEST_SKIP() << "no shared media folder (TUNEDECK_MEDIA_DIR)";
    int checked = 0;
    for (const ManifestRow &row : readManifest(dir / "manifest.tsv")) {
        if (row.expect != "reject")
            continue;
        const auto result = MidiFile::read(dir / row.file);
        ASSERT_FALSE(result.ok()) << row.file << " was accepted";
        EXPECT_NE(result.error().code, Error::Code::FileNotFound) << row.file;
        EXPECT_FALSE(result.error().detail.empty()) << row.file;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// The example songs read as what their names say and last 10 to 40 seconds.
TEST(ExampleSongs, ReadWithTheirKindsAndLengths)
{
    const fs::path dir = examplesDir();
    if (dir.empty() || !fs::exists(dir))
        GTEST_SKIP() << "no source folder (TUNEDECK_SOURCE_DIR)";
    const std::map<std::string, MidiKind> expected { { "ode_to_joy.mid", MidiKind::Smf0 },
        { "twinkle_twinkle.mid", MidiKind::Smf1 }, { "frere_jacques_round.mid", MidiKind::Smf1 },
        { "au_clair_de_la_lune.rmi", MidiKind::Rmi } };
    for (const auto &[name, kind] : expected) {
        const auto result = MidiFile::read(dir / name);
        ASSERT_TRUE(result.ok()) << name << ": " << result.error().detail;
        EXPECT_EQ(result.value().kind(), kind) << name;
        EXPECT_GE(result.value().lengthMs(), 10'000u) << name;
        EXPECT_LE(result.value().lengthMs(), 40'000u) << name;
    }
}

// python3-mido, an independent reader, computes the same lengths (within 1 ms) for our timing
// fixtures and the example songs.
TEST(MidoAgreement, LengthsMatchMido)
{
    const std::string python = pythonWithMido();
    if (python.empty())
        GTEST_SKIP() << "python3 with mido is not installed";
    const ScratchDir scratch;
    std::vector<fs::path> files;
    for (const auto &[name, bytes] : timingFixtures()) {
        files.push_back(scratch.path() / name);
        ASSERT_TRUE(testsupport::writeFile(files.back(), bytes));
    }
    if (const fs::path dir = examplesDir(); !dir.empty() && fs::exists(dir)) {
        for (const auto &entry : fs::directory_iterator(dir)) {
            if (entry.path().extension() == ".mid")
                files.push_back(entry.path());
        }
    }

    const auto lengths = midoLengths(python, files);
    for (const fs::path &file : files) {
        const auto result = MidiFile::read(file);
        ASSERT_TRUE(result.ok()) << file << ": " << result.error().detail;
        const auto found = lengths.find(file);
        ASSERT_NE(found, lengths.end()) << file;
        EXPECT_NEAR(result.value().lengthMs(), found->second * 1000.0, 1.0) << file;
    }
}
