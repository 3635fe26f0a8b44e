// The key store and the accessor over a fixture prefix: handles, paths, enumeration and the
// depth-first deletion of a tree.
#include "PrefixFixture.h"
#include "keysweep/Hive.h"
#include "keysweep/KeyStore.h"
#include "keysweep/TRegistry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace keysweep;
using namespace keysweep::test;

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        writeFile(prefix.user(), kUserHive);
        writeFile(prefix.machine(), kMachineHive);
    }

    // Whether `path` exists below the current-user root, read afresh from the file.
    bool userKeyExists(std::u16string_view path)
    {
        KeyStore fresh(prefix.path());
        const auto key = fresh.openKey(kCurrentUser, path, Access::Read);
        return key.has_value();
    }

    TempPrefix prefix;
};

// Deleting a key takes its whole tree; siblings that share its prefix and the other hive stay.
TEST_F(Registry, DeletesTheTreeAndNothingElse)
{
    KeyStore store(prefix.path());
    {
        TRegistry registry(store);
        EXPECT_TRUE(registry.deleteKey(u"Software\\The toolTest\\Alpha"));
        EXPECT_EQ(registry.currentKey(), 0u); // restored after the sub-keys went
    }
    EXPECT_TRUE(store.commit().empty());
    EXPECT_FALSE(userKeyExists(u"Software\\The toolTest\\Alpha"));
    EXPECT_FALSE(userKeyExists(u"Software\\The toolTest\\Alpha\\Beta 1\\Gamma Two"));
    EXPECT_TRUE(userKeyExists(u"Software\\The toolTest\\Alpha Sibling"));
    EXPECT_TRUE(userKeyExists(u"Software\\The toolTest\\AlphaBeta"));
    EXPECT_EQ(readFile(prefix.machine()), kMachineHive);
}

// A key with three levels of several sub-keys each goes completely, leaves first: the store
// refuses to delete a key that still has sub-keys, so any other order would leave keys behind.
TEST_F(Registry, ThreeLevelsOfSeveralKeysGoCompletely)
{
    std::string hive
        = "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n";
    for (const char *a : { "A", "b", "C" })
        for (const char *b : { "x", "Y", "z" })
            for (const char *c : { "1", "2", "3", "4" })
                hive += std::string("\n[Tree\\\\") + a + "\\\\" + b + "\\\\" + c
                    + "] 1\n#time=1\n\"v\"=\"" + c + "\"\n";
    hive += "\n[Tree\\\\b] 1\n\"own\"=\"1\"\n\n[Treetop] 1\n";
    writeFile(prefix.machine(), hive);

    KeyStore store(prefix.path());
    {
        TRegistry registry(store);
        registry.setRootKey(kLocalMachine);
        const auto tree = store.openKey(kLocalMachine, u"Tree\\b", Access::All);
        ASSERT_TRUE(tree.has_value());
        EXPECT_FALSE(store.deleteKey(kLocalMachine, u"Tree\\b")); // it has sub-keys
        store.closeKey(*tree);
        EXPECT_TRUE(registry.deleteKey(u"Tree"));
    }
    EXPECT_TRUE(store.commit().empty());
    EXPECT_EQ(readFile(prefix.machine()),
        "WINE REGISTRY Version 2\n;; All keys relative to "
        "REGISTRY\\\\Machine\n\n#arch=win64\n\n[Treetop] 1\n");
}

// At the top level a leading backslash means the root, as no current key is set.
TEST_F(Registry, LeadingBackslashIsTheSameKeyAtTopLevel)
{
    KeyStore store(prefix.path());
    TRegistry registry(store);
    const auto relative = registry.openKey(u"Software\\The toolTest\\Alpha");
    const auto absolute = registry.openKey(u"\\Software\\The toolTest\\Alpha");
    ASSERT_TRUE(relative && absolute);
    EXPECT_EQ(store.enumKey(*relative, 0, 64), store.enumKey(*absolute, 0, 64));
    EXPECT_FALSE(registry.openKey(u"\\\\Software").has_value()); // a second backslash names no key
}

// Paths that name no level open nothing, so the root can never be deleted through them.
TEST_F(Registry, PathWithoutALevelOpensNothing)
{
    KeyStore store(prefix.path());
    for (const std::u16string_view path : { u"", u"\\", u"\\\\", u"\\\\\\" })
        EXPECT_FALSE(store.openKey(kCurrentUser, path, Access::All).has_value()) << path.size();
    TRegistry registry(store);
    EXPECT_FALSE(registry.deleteKey(u"\\"));
    EXPECT_FALSE(registry.deleteKey(u"\\\\"));
    EXPECT_TRUE(store.commit().empty());
    EXPECT_EQ(readFile(prefix.user()), kUserHive);
}

// Doubled and trailing separators inside a path are ignored, as Wine does.
TEST_F(Registry, DoubledSeparatorsAreIgnored)
{
    KeyStore store(prefix.path());
    EXPECT_TRUE(
        store.openKey(kCurrentUser, u"Software\\\\The toolTest\\Alpha\\", Access::All).has_value());
}

// Sub-keys enumerate in lower-cased name order, and the longest name is counted in UTF-16 units
// so the buffer the accessor sizes from it always holds every name.
TEST_F(Registry, EnumeratesInNameOrderWithRoomForEveryName)
{
    KeyStore store(prefix.path());
    const auto alpha = store.openKey(kCurrentUser, u"software\\the tooltest\\ALPHA", Access::Read);
    ASSERT_TRUE(alpha.has_value());
    const auto info = store.queryInfoKey(*alpha);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->subKeyCount, 3u);
    const std::u16string unicode = u"Ünïcödé Ключ 子键";
    EXPECT_EQ(info->longestSubKeyName, unicode.size());
    EXPECT_EQ(store.enumKey(*alpha, 0, 64), u"Beta 1");
    EXPECT_EQ(store.enumKey(*alpha, 1, 64), u"Name[br]acket");
    EXPECT_EQ(store.enumKey(*alpha, 2, unicode.size() + 1), unicode);
    EXPECT_FALSE(store.enumKey(*alpha, 2, unicode.size()).has_value()); // no room for the end
    EXPECT_FALSE(store.enumKey(*alpha, 3, 64).has_value());
}

// A chain far deeper than the registry's 512 levels (Wine loads such keys) goes completely and
// its parent stays; the walk must not recurse once per level, or this depth overflows the stack.
TEST_F(Registry, ChainOfAnyDepthGoesCompletely)
{
    constexpr int kLevels = 200000;
    std::string hive = "WINE REGISTRY Version 2\n\n[Keep] 1\n\n[Keep\\\\Chain";
    for (int level = 1; level < kLevels; ++level)
        hive += "\\\\L";
    hive += "] 1\n\"v\"=\"deep\"\n";
    writeFile(prefix.machine(), hive);

    KeyStore store(prefix.path());
    {
        TRegistry registry(store);
        registry.setRootKey(kLocalMachine);
        EXPECT_TRUE(registry.deleteKey(u"Keep\\Chain"));
    }
    EXPECT_TRUE(store.commit().empty());
    EXPECT_EQ(readFile(prefix.machine()), "WINE REGISTRY Version 2\n\n[Keep] 1\n");
}

// A read-only hive opens for reading but not with full access, and nothing can be deleted.
TEST_F(Registry, ReadOnlyHiveCannotBeOpenedWithFullAccess)
{
    ::chmod(prefix.user().c_str(), 0444);
    KeyStore store(prefix.path());
    EXPECT_TRUE(
        store.openKey(kCurrentUser, u"Software\\The toolTest\\Alpha", Access::Read).has_value());
    EXPECT_FALSE(
        store.openKey(kCurrentUser, u"Software\\The toolTest\\Alpha", Access::All).has_value());
    EXPECT_FALSE(store.deleteKey(kCurrentUser, u"Software\\The toolTest\\AlphaBeta"));
}

// A handle to a key that was deleted meanwhile answers nothing.
TEST_F(Registry, HandleToADeletedKeyAnswersNothing)
{
    KeyStore store(prefix.path());
    const auto beta
        = store.openKey(kCurrentUser, u"Software\\The toolTest\\AlphaBeta", Access::All);
    ASSERT_TRUE(beta.has_value());
    EXPECT_TRUE(store.deleteKey(kCurrentUser, u"Software\\The toolTest\\AlphaBeta"));
    EXPECT_FALSE(store.queryInfoKey(*beta).has_value());
    EXPECT_FALSE(store.openKey(*beta, u"x", Access::Read).has_value());
}

} // namespace
