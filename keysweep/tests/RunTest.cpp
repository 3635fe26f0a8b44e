// One run of the program in-process: the command line, the silent cases, and the safety rules
// for the hive files (refusals, atomic replacement, the wineserver lock).
#include "PrefixFixture.h"
#include "keysweep/Hive.h"
#include "keysweep/KeyName.h"
#include "keysweep/KeyStore.h"
#include "keysweep/Keysweep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace keysweep;
using namespace keysweep::test;

namespace {

constexpr const char *kAlpha = "Software\\The toolTest\\Alpha";

class Run : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(prefix.user(), kUserHive);
        writeFile(prefix.machine(), kMachineHive);
        writeFile(prefix.path() / "userdef.reg", kUserHive);
        places.tmpDir = prefix.tmp();
        places.sharedTmp = prefix.tmp();
        places.runtimeDir.clear();
        places.uid = ::getuid();
    }

    int run(std::vector<std::string> arguments)
    {
        RunContext context;
        context.prefix = prefix.path();
        context.serverPlaces = places;
        context.showError = [this](std::string_view text, std::string_view caption) {
            boxes.emplace_back(std::string(text) + "|" + std::string(caption));
        };
        context.report = [this](std::string_view message) { reports.emplace_back(message); };
        return keysweep::run(arguments, context);
    }

    static bool keyExists(
        const std::filesystem::path &prefixPath, KeyHandle root, std::string_view path)
    {
        KeyStore store(prefixPath);
        return store.openKey(root, fromUtf8(path), Access::Read).has_value();
    }
    bool userHas(std::string_view path) const
    {
        return keyExists(prefix.path(), kCurrentUser, path);
    }
    bool machineHas(std::string_view path) const
    {
        return keyExists(prefix.path(), kLocalMachine, path);
    }

    void expectUntouched() const
    {
        EXPECT_EQ(readFile(prefix.user()), kUserHive);
        EXPECT_EQ(readFile(prefix.machine()), kMachineHive);
    }

    // The Debian layout: the prefix names a folder under $TMPDIR that holds the server folder.
    std::filesystem::path makeServerFolder()
    {
        writeFile(prefix.path() / "wineserver", "wine-AbC123");
        const auto folder = prefix.tmp() / "wine-AbC123" / serverFolderName(prefix.path());
        std::filesystem::create_directories(folder);
        writeFile(folder / "lock", "");
        return folder;
    }

    TempPrefix prefix;
    ServerPlaces places;
    std::vector<std::string> boxes;
    std::vector<std::string> reports;
};

struct RootCase {
    const char *name;
    const char *rootSwitch;
    KeyHandle expectedRoot;
};

class RootSwitch : public Run, public ::testing::WithParamInterface<RootCase> { };

// "-L" and "-C" are compared exactly; anything else means the current user. The same path
// under the other root is untouched.
TEST_P(RootSwitch, SelectsTheRootExactly)
{
    EXPECT_EQ(run({ GetParam().rootSwitch, kAlpha }), kExitOk);
    const bool machine = GetParam().expectedRoot == kLocalMachine;
    EXPECT_EQ(machineHas(kAlpha), !machine);
    EXPECT_EQ(userHas(kAlpha), machine);
    EXPECT_EQ(
        readFile(machine ? prefix.user() : prefix.machine()), machine ? kUserHive : kMachineHive);
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(reports.empty());
}

INSTANTIATE_TEST_SUITE_P(Run, RootSwitch,
    ::testing::Values(RootCase { "MachineSwitch", "-L", kLocalMachine },
        RootCase { "UserSwitch", "-C", kCurrentUser },
        RootCase { "LowerCaseL", "-l", kCurrentUser },
        RootCase { "LowerCaseC", "-c", kCurrentUser }, RootCase { "SlashL", "/L", kCurrentUser },
        RootCase { "LWithMore", "-LX", kCurrentUser }, RootCase { "Empty", "", kCurrentUser }),
    [](const auto &testCase) { return std::string(testCase.param.name); });

// A single argument is taken as the switch: the path is empty, the box shows, nothing changes.
TEST_F(Run, SingleArgumentShowsTheErrorBox)
{
    EXPECT_EQ(run({ kAlpha }), kExitOk);
    EXPECT_EQ(boxes, std::vector<std::string> { "no key specified|error" });
    expectUntouched();
}

// No argument at all, or a path made only of quotes, is the same empty path.
TEST_F(Run, NoArgumentOrOnlyQuotesShowsTheErrorBox)
{
    EXPECT_EQ(run({}), kExitOk);
    EXPECT_EQ(run({ "-C", "\"\"\"" }), kExitOk);
    EXPECT_EQ(boxes.size(), 2u);
    expectUntouched();
}

// Every double quote inside the path is removed before use; further arguments are ignored.
TEST_F(Run, QuotesInsideThePathAreRemoved)
{
    EXPECT_EQ(run({ "-C", "\"Software\\\"The tool\"Test\\Al\"\"pha\"", "ignored" }), kExitOk);
    EXPECT_FALSE(userHas(kAlpha));
    EXPECT_TRUE(userHas("Software\\The toolTest\\AlphaBeta"));
}

// A leading backslash deletes the same key as the path without it.
TEST_F(Run, LeadingBackslashDeletesTheSameKey)
{
    EXPECT_EQ(run({ "-C", std::string("\\") + kAlpha }), kExitOk);
    EXPECT_FALSE(userHas(kAlpha));
    EXPECT_FALSE(userHas("Software\\The toolTest\\Alpha\\Beta 1"));
    EXPECT_TRUE(userHas("Software\\The toolTest\\Alpha Sibling"));
}

// Paths the accessor reads the same way delete the same key, and its siblings (which keep the
// parent alive) stay.
TEST_F(Run, DoubledOrTrailingSeparatorsDeleteTheSameKey)
{
    ASSERT_EQ(run({ "-C", kAlpha }), kExitOk);
    const std::string expected = readFile(prefix.user());
    for (const char *path : { "Software\\The toolTest\\\\Alpha", "Software\\The toolTest\\Alpha\\",
             "\\SOFTWARE\\the TOOLTEST\\alpha\\\\" }) {
        writeFile(prefix.user(), kUserHive);
        EXPECT_EQ(run({ "-C", path }), kExitOk) << path;
        EXPECT_EQ(readFile(prefix.user()), expected) << path;
    }
}

// An absent key, a path that names no level, and a hive that does not exist all end silently
// with status 0 and leave the files as they were (not even rewritten), and a folder of no hive
// as it was.
TEST_F(Run, AbsentKeyEndsSilently)
{
    const ino_t before = inodeOf(prefix.user());
    for (const char *path :
        { "Software\\The toolTest\\Alph", "Software\\Nothing\\Here", "\\", "\\\\" })
        EXPECT_EQ(run({ "-C", path }), kExitOk) << path;
    EXPECT_EQ(inodeOf(prefix.user()), before);
    std::filesystem::remove(prefix.machine());
    EXPECT_EQ(run({ "-L", kAlpha }), kExitOk);
    EXPECT_FALSE(std::filesystem::exists(prefix.machine()));
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
    // A folder with no hive at all is no prefix: nothing is made in it for a server.
    std::filesystem::remove(prefix.user());
    std::filesystem::remove(prefix.path() / "wineserver");
    EXPECT_EQ(run({ "-C", kAlpha }), kExitOk);
    EXPECT_FALSE(std::filesystem::exists(prefix.path() / "wineserver"));
}

// Paths differing in case, ASCII or not, name the stored key; only that key goes.
TEST_F(Run, CaseVariantAndNonAsciiPathsFindTheKey)
{
    const std::string upper = "SOFTWARE\\THE TOOLTEST\\ALPHA\\\xc3\x9cN\xc3\x8f"
                              "C\xc3\x96"
                              "D\xc3\x89 \xd0\x9a\xd0\x9b\xd0\xae\xd0\xa7 \xe5\xad\x90\xe9\x94\xae";
    EXPECT_EQ(run({ "-C", upper }), kExitOk);
    EXPECT_EQ(readFile(prefix.user()),
        withoutSection(kUserHive,
            R"([Software\\The toolTest\\Alpha\\\xdcn\x00efc\x00f6d\xe9 \x41a\x43b\x44e\x447 \x5b50\x952e])"));
}

// Names that Unicode case folding would merge but Wine keeps apart: deleting one of a pair
// leaves the other, as `wine reg delete` does (the merge was seen against Wine 8).
TEST_F(Run, CasePairsWineKeepsApartStayApart)
{
    const std::pair<const char *, const char *> pairs[] = {
        { "A\xc5\xbf", "As" }, // ſ, s
        { "M\xc2\xb5", "M\xce\xbc" }, // micro sign, mu
        { "S\xcf\x82", "S\xcf\x83" }, // final sigma, sigma
        { "X\xe1\xba\x9e", "X\xc3\x9f" }, // capital sharp s, sharp s
        { "D\xf0\x90\x90\x80", "D\xf0\x90\x90\xa8" }, // Deseret capital and small long i
    };
    std::string hive(kUserHive);
    for (const auto &[one, other] : pairs)
        for (const char *name : { one, other })
            hive += std::string("\n[Software\\\\KS\\\\Fold\\\\") + name + "] 1\n\"v\"=\"1\"\n";
    for (const auto &[one, other] : pairs) {
        SCOPED_TRACE(one);
        writeFile(prefix.user(), hive);
        EXPECT_EQ(run({ "-C", std::string("Software\\KS\\Fold\\") + one }), kExitOk);
        EXPECT_FALSE(userHas(std::string("Software\\KS\\Fold\\") + one));
        EXPECT_TRUE(userHas(std::string("Software\\KS\\Fold\\") + other));
    }
    // A real case pair still matches: Σ and σ lower-case alike.
    writeFile(prefix.user(), hive + "\n[Software\\\\KS\\\\Fold\\\\\\x03a3A] 1\n");
    EXPECT_EQ(run({ "-C",
                  "software\\ks\\fold\\\xcf\x83"
                  "a" }),
        kExitOk);
    EXPECT_FALSE(userHas("Software\\KS\\Fold\\\xce\xa3"
                         "A"));
}

// Deleting the only sub-key of a key that has no section keeps that key.
TEST_F(Run, ImplicitParentIsKept)
{
    EXPECT_EQ(run({ "-C", "Software\\The toolTest\\Zeta\\Deep\\L1" }), kExitOk);
    EXPECT_FALSE(userHas("Software\\The toolTest\\Zeta\\Deep\\L1"));
    EXPECT_TRUE(userHas("Software\\The toolTest\\Zeta\\Deep"));
    EXPECT_TRUE(userHas("Software\\The toolTest\\Zeta"));
}

// userdef.reg holds the same path but is never touched.
TEST_F(Run, UserdefIsNeverTouched)
{
    EXPECT_EQ(run({ "-C", kAlpha }), kExitOk);
    EXPECT_FALSE(userHas(kAlpha));
    EXPECT_EQ(readFile(prefix.path() / "userdef.reg"), kUserHive);
}

// A file whose first line is not the hive header is refused with a message naming it, a
// distinct status, and no change.
TEST_F(Run, NotAHiveIsRefusedAndLeftUntouched)
{
    const std::string regedit
        = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\The toolTest\\Alpha]\n\"a\"=\"1\"\n";
    writeFile(prefix.user(), regedit);
    EXPECT_EQ(run({ "-C", kAlpha }), kExitHiveRefused);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(prefix.user().string()), std::string::npos);
    EXPECT_NE(reports[0].find("not a Wine registry file"), std::string::npos);
    EXPECT_EQ(readFile(prefix.user()), regedit);
}

// A read-only hive cannot be opened with full access: silent, as an absent key is.
TEST_F(Run, ReadOnlyHiveIsLeftSilently)
{
    ::chmod(prefix.user().c_str(), 0444);
    EXPECT_EQ(run({ "-C", kAlpha }), kExitOk);
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
    EXPECT_TRUE(reports.empty());
}

// A hive that is not a regular file (here a folder; a FIFO is run in the program test) is
// refused with a message naming it.
TEST_F(Run, HiveThatIsNotARegularFileIsRefused)
{
    std::filesystem::remove(prefix.machine());
    std::filesystem::create_directory(prefix.machine());
    EXPECT_EQ(run({ "-L", kAlpha }), kExitHiveRefused);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(
        reports[0].find(prefix.machine().string() + " is not a regular file"), std::string::npos);
}

// The hive is replaced by a new file with the old mode, and no temporary file stays behind.
TEST_F(Run, ReplacementKeepsTheModeAndLeavesNoTemporaryFile)
{
    ::chmod(prefix.user().c_str(), 0640);
    const ino_t before = inodeOf(prefix.user());
    EXPECT_EQ(run({ "-C", kAlpha }), kExitOk);
    EXPECT_NE(inodeOf(prefix.user()), before);
    struct stat info { };
    ASSERT_EQ(::stat(prefix.user().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    for (const auto &entry : std::filesystem::directory_iterator(prefix.path()))
        EXPECT_EQ(entry.path().filename().string().rfind(".keysweep-", 0), std::string::npos)
            << entry.path();
}

// A folder that cannot be opened (so its rename could not be synced) is found before the hive
// is replaced, so the failure's "left as it was" is true.
TEST_F(Run, FolderThatCannotBeSyncedFailsBeforeTheReplacement)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root opens any folder; run as another user to check this";
    ::chmod(prefix.path().c_str(), 0300);
    const int status = run({ "-C", kAlpha });
    ::chmod(prefix.path().c_str(), 0755);
    EXPECT_EQ(status, kExitWriteFailed);
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
}

// A symlinked hive: the file it names is replaced and the link stays a link. A link of another
// owner than the caller and the file is not followed: a prefix's owner cannot have root rewrite
// a file of root's.
TEST_F(Run, SymlinkedHiveIsReplacedThroughTheLink)
{
    const auto real = prefix.tmp() / "shared-user.reg";
    std::filesystem::rename(prefix.user(), real);
    std::filesystem::create_symlink(real, prefix.user());
    EXPECT_EQ(run({ "-C", kAlpha }), kExitOk);
    EXPECT_TRUE(std::filesystem::is_symlink(prefix.user()));
    EXPECT_FALSE(userHas(kAlpha));
    EXPECT_NE(readFile(real), kUserHive);

    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a link to another user";
    writeFile(real, kUserHive);
    ASSERT_EQ(::lchown(prefix.user().c_str(), 65534, 65534), 0);
    EXPECT_EQ(run({ "-C", kAlpha }), kExitHiveRefused);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("link"), std::string::npos);
    EXPECT_EQ(readFile(real), kUserHive);
}

// A hard-linked hive is refused: replacing one name would leave the other with the old keys.
TEST_F(Run, HardLinkedHiveIsRefused)
{
    const auto other = prefix.tmp() / "other-name.reg";
    std::filesystem::create_hard_link(prefix.user(), other);
    EXPECT_EQ(run({ "-C", kAlpha }), kExitHiveRefused);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("hard link"), std::string::npos);
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
    EXPECT_EQ(inodeOf(prefix.user()), inodeOf(other));
}

// While another process holds the server lock, the run refuses with its own status, names
// the server's pid, and changes nothing; when the holder is another keysweep, it says so.
TEST_F(Run, RunningServerIsRefused)
{
    const auto folder = makeServerFolder();
    for (const char *name : { "wineserver", "keysweep" }) {
        SCOPED_TRACE(name);
        reports.clear();
        ChildHolding server(ChildHolding::What::LockOf, folder / "lock", name);
        EXPECT_EQ(run({ "-C", kAlpha }), kExitServerRunning);
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_NE(reports[0].find("pid " + std::to_string(server.pid())), std::string::npos);
        EXPECT_EQ(reports[0].starts_with("another keysweep"), name == std::string("keysweep"))
            << reports[0];
        expectUntouched();
    }
}

// The upstream layout (<tmp>/.wine-<uid>/server-...) is checked too.
TEST_F(Run, RunningServerInTheUpstreamLayoutIsRefused)
{
    const auto folder
        = prefix.tmp() / (".wine-" + std::to_string(::getuid())) / serverFolderName(prefix.path());
    std::filesystem::create_directories(folder);
    ChildHolding server(ChildHolding::What::LockOf, folder / "lock");
    EXPECT_EQ(run({ "-C", kAlpha }), kExitServerRunning);
    expectUntouched();
}

// A server whose folder lies where no layout looks is still found by its working folder.
TEST_F(Run, RunningServerIsFoundByItsWorkingFolder)
{
    const auto folder = prefix.tmp() / "elsewhere" / serverFolderName(prefix.path());
    std::filesystem::create_directories(folder);
    ChildHolding server(ChildHolding::What::WorkingFolder, folder);
    EXPECT_EQ(run({ "-L", kAlpha }), kExitServerRunning);
    expectUntouched();
}

// A lock file that nobody holds is what a stopped server leaves: the run goes ahead.
TEST_F(Run, LeftoverLockFileOfAStoppedServerMeansNothing)
{
    makeServerFolder();
    EXPECT_EQ(run({ "-C", kAlpha }), kExitOk);
    EXPECT_FALSE(userHas(kAlpha));
}

// With no server folder yet (the prefix's server never ran, or the temporary folder was cleared),
// the folder a starting Wine would use is made as Wine makes it and its lock held: a wineserver
// started mid-run must wait, or it would load the old hive and write it back later (seen with
// Wine 8). Either the prefix names the folder, or a new one is named in it as Wine does; where
// the user's runtime folder exists, Wine uses <runtime>/wine/ instead.
TEST_F(Run, MissingServerFolderIsMadeAndLocked)
{
    const std::pair<bool, bool> rows[] = { { true, false }, { false, false }, { false, true } };
    for (const auto &[named, runtime] : rows) {
        SCOPED_TRACE(::testing::Message() << "named " << named << ", runtime folder " << runtime);
        std::filesystem::remove_all(prefix.tmp());
        std::filesystem::create_directories(prefix.tmp() / "run");
        places.runtimeDir = runtime ? prefix.tmp() / "run" : std::filesystem::path();
        std::filesystem::remove(prefix.path() / "wineserver");
        if (named)
            writeFile(prefix.path() / "wineserver", "wine-Named1");
        std::filesystem::path lockFile;
        {
            auto lock = ServerLock::acquire(prefix.path(), places);
            ASSERT_TRUE(std::holds_alternative<ServerLock>(lock));
            const auto &held = std::get<ServerLock>(lock).heldLocks();
            ASSERT_EQ(held.size(), runtime ? 2u : 1u); // tmp/run/... sorts first
            lockFile = held[0];
            const std::string folderName = readFile(prefix.path() / "wineserver");
            if (named) {
                EXPECT_EQ(folderName, "wine-Named1");
            }
            EXPECT_EQ(lockFile,
                (runtime ? places.runtimeDir / "wine" : prefix.tmp() / folderName)
                    / serverFolderName(prefix.path()) / "lock");
            struct stat info { };
            for (const auto &folder :
                { lockFile.parent_path(), lockFile.parent_path().parent_path() }) {
                ASSERT_EQ(::stat(folder.c_str(), &info), 0) << folder;
                EXPECT_EQ(info.st_mode & 07777, 0700u) << folder;
            }
            EXPECT_FALSE(anotherProcessCanLock(lockFile));
        }
        EXPECT_TRUE(anotherProcessCanLock(lockFile));
    }
}

// Root editing another user's prefix makes that user's server folders as theirs: a `wineserver`
// file, folder or lock of root's would stop the user's own Wine.
TEST_F(Run, ServerFoldersMadeForAnotherUserAreTheirs)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root edits another user's prefix";
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown(prefix.path().c_str(), kNobody, kNobody), 0);
    std::filesystem::remove(prefix.path() / "wineserver");
    auto lock = ServerLock::acquire(prefix.path(), places);
    ASSERT_TRUE(std::holds_alternative<ServerLock>(lock));
    const auto lockFile = std::get<ServerLock>(lock).heldLocks().at(0);
    for (const auto &made : { prefix.path() / "wineserver", lockFile, lockFile.parent_path(),
             lockFile.parent_path().parent_path() }) {
        struct stat info { };
        ASSERT_EQ(::lstat(made.c_str(), &info), 0) << made;
        EXPECT_EQ(info.st_uid, kNobody) << made;
    }
}

// While a ServerLock lives no other process can take the server lock, so no wineserver can
// start; once it is gone, one can.
TEST_F(Run, ServerLockExcludesOthersUntilReleased)
{
    const auto folder = makeServerFolder();
    {
        auto lock = ServerLock::acquire(prefix.path(), places);
        ASSERT_TRUE(std::holds_alternative<ServerLock>(lock));
        EXPECT_EQ(std::get<ServerLock>(lock).heldLocks(),
            std::vector<std::filesystem::path> { folder / "lock" });
        EXPECT_FALSE(anotherProcessCanLock(folder / "lock"));
    }
    EXPECT_TRUE(anotherProcessCanLock(folder / "lock"));
}

} // namespace
