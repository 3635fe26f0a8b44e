// The hive reader and writer: what it refuses, which keys it finds, and that removing a key
// changes nothing in the file but that key's sections.
#include "keysweep/Hive.h"
#include "PrefixFixture.h"
#include "keysweep/KeyName.h"

#include <gtest/gtest.h>

using namespace keysweep;
using namespace keysweep::test;

namespace {

using Clock = std::chrono::system_clock;
const Clock::time_point kWriteTime
    = Clock::time_point(std::chrono::seconds(1796688663)) + std::chrono::milliseconds(560);

std::unique_ptr<Hive> parseOk(std::string_view text)
{
    auto hive = Hive::parse(std::string(text));
    if (!hive)
        throw std::runtime_error("not parsed");
    return std::move(hive).value();
}

// Walks a path of names from the root; null when any level is missing.
template<typename Names> HiveKey *keyAt(Hive &hive, const Names &names)
{
    HiveKey *key = hive.root();
    for (const auto &name : names) {
        key = hive.child(key, name);
        if (key == nullptr)
            return nullptr;
    }
    return key;
}

HiveKey *keyAt(Hive &hive, std::initializer_list<std::u16string_view> names)
{
    return keyAt<std::initializer_list<std::u16string_view>>(hive, names);
}

// Removes a key and everything below it, children first, as the accessor does.
void removeTree(Hive &hive, HiveKey *key)
{
    while (!key->children.empty())
        removeTree(hive, key->children.back());
    ASSERT_TRUE(hive.remove(key));
}

HiveKey *toolTest(Hive &hive)
{
    return keyAt(hive, { u"Software", u"The toolTest" });
}

struct HeaderCase {
    const char *name;
    std::string_view bytes;
};

// Names the case in test listings (instead of dumping its bytes).
void PrintTo(const HeaderCase &header, std::ostream *out)
{
    *out << header.name;
}

class RefusedHeader : public ::testing::TestWithParam<HeaderCase> { };

// Only a file whose first line is exactly the hive header is read at all.
TEST_P(RefusedHeader, IsNotAHive)
{
    const auto hive = Hive::parse(std::string(GetParam().bytes));
    ASSERT_FALSE(hive.ok());
    EXPECT_EQ(hive.error().code, Error::Code::NotAHive);
}

INSTANTIATE_TEST_SUITE_P(Hive, RefusedHeader,
    ::testing::Values(HeaderCase { "Empty", "" },
        HeaderCase { "OlderVersion", "WINE REGISTRY Version 1\n[A] 1\n" },
        HeaderCase { "RegeditExport", "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n" },
        HeaderCase { "LeadingSpace", " WINE REGISTRY Version 2\n" },
        HeaderCase { "TrailingText", "WINE REGISTRY Version 2 \n" },
        HeaderCase { "ByteOrderMark", "\xef\xbb\xbfWINE REGISTRY Version 2\n" },
        HeaderCase { "LowerCase", "wine registry version 2\n" }),
    [](const auto &testCase) { return std::string(testCase.param.name); });

// A key that only its descendants' sections name exists, with those descendants below it.
TEST(Hive, FindsKeysThatExistOnlyImplicitly)
{
    auto hive = parseOk(kUserHive);
    HiveKey *deep = keyAt(*hive, { u"Software", u"The toolTest", u"Zeta", u"Deep" });
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(deep->sections.empty());
    ASSERT_EQ(deep->children.size(), 1u);
    EXPECT_EQ(deep->children[0]->name, u"L1");
}

// Names compare level by level and case-insensitively, never by string prefix; sub-keys are
// ordered by lower-cased name.
TEST(Hive, MatchesWholeLevelsCaseInsensitively)
{
    auto hive = parseOk(kUserHive);
    HiveKey *alpha = keyAt(*hive, { u"SOFTWARE", u"the tooltest", u"alpha" });
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->name, u"Alpha");
    EXPECT_EQ(alpha->children.size(), 3u);
    EXPECT_EQ(hive->child(toolTest(*hive), u"Alph"), nullptr);
    HiveKey *unicode = hive->child(alpha, u"ÜNÏCÖDÉ КЛЮЧ 子键");
    ASSERT_NE(unicode, nullptr);
    EXPECT_EQ(unicode->name, u"Ünïcödé Ключ 子键");

    std::vector<std::u16string> siblings;
    for (const HiveKey *key : toolTest(*hive)->children)
        siblings.push_back(key->name);
    EXPECT_EQ(siblings,
        (std::vector<std::u16string> { u"Alpha", u"Alpha Sibling", u"AlphaBeta", u"Zeta" }));
}

// Removing a leaf drops exactly its section and the blank line before it; every other byte,
// including a value text that looks like a header, stays as it was.
TEST(Hive, RemovingAKeyDropsExactlyItsSection)
{
    auto hive = parseOk(kUserHive);
    ASSERT_TRUE(
        hive->remove(keyAt(*hive, { u"Software", u"The toolTest", u"Alpha", u"Name[br]acket" })));
    EXPECT_EQ(hive->serialize(kWriteTime),
        withoutSection(kUserHive, R"([Software\\The toolTest\\Alpha\\Name\[br\]acket])"));
}

// Deleting Alpha's tree leaves Alpha Sibling and AlphaBeta byte for byte, and the parent
// keeps a sub-key, so no section is added.
TEST(Hive, RemovingATreeKeepsSiblingsThatShareItsPrefix)
{
    auto hive = parseOk(kUserHive);
    removeTree(*hive, keyAt(*hive, { u"Software", u"The toolTest", u"Alpha" }));
    std::string expected(kUserHive);
    for (const char *header :
        { R"([Software\\The toolTest\\Alpha])",
            R"([Software\\The toolTest\\Alpha\\Beta 1\\Gamma Two])",
            R"([Software\\The toolTest\\Alpha\\Name\[br\]acket])",
            R"([Software\\The toolTest\\Alpha\\\xdcn\x00efc\x00f6d\xe9 \x41a\x43b\x44e\x447 \x5b50\x952e])" })
        expected = withoutSection(expected, header);
    EXPECT_EQ(hive->serialize(kWriteTime), expected);

    auto reread = parseOk(hive->serialize(kWriteTime));
    EXPECT_EQ(reread->child(toolTest(*reread), u"Alpha"), nullptr);
    EXPECT_NE(reread->child(toolTest(*reread), u"Alpha Sibling"), nullptr);
    EXPECT_NE(reread->child(toolTest(*reread), u"AlphaBeta"), nullptr);
}

// A parent left with neither a section nor a sub-key gets a bare section where the removed
// tree began, stamped with the write time in both of Wine's forms, so it survives a reload.
TEST(Hive, ImplicitParentIsKeptWithABareSection)
{
    auto hive = parseOk(kUserHive);
    removeTree(*hive, keyAt(*hive, { u"Software", u"The toolTest", u"Zeta", u"Deep", u"L1" }));
    const std::string expected
        = withoutSection(kUserHive, R"([Software\\The toolTest\\Zeta\\Deep\\L1\\L2])")
        + "\n[Software\\\\The toolTest\\\\Zeta\\\\Deep] 1796688663\n#time=1dd86a89ce0f880\n";
    const std::string written = hive->serialize(kWriteTime);
    EXPECT_EQ(written, expected);

    auto reread = parseOk(written);
    HiveKey *deep = keyAt(*reread, { u"Software", u"The toolTest", u"Zeta", u"Deep" });
    ASSERT_NE(deep, nullptr);
    EXPECT_TRUE(deep->children.empty());
}

// A parent that keeps its own section gets nothing added.
TEST(Hive, ParentThatStaysAliveGetsNoSection)
{
    auto hive = parseOk(kUserHive);
    ASSERT_TRUE(hive->remove(
        keyAt(*hive, { u"Software", u"The toolTest", u"Alpha", u"Ünïcödé Ключ 子键" })));
    EXPECT_EQ(hive->serialize(kWriteTime),
        withoutSection(kUserHive,
            R"([Software\\The toolTest\\Alpha\\\xdcn\x00efc\x00f6d\xe9 \x41a\x43b\x44e\x447 \x5b50\x952e])"));
}

// Removing the file's last section leaves no blank line at the end.
TEST(Hive, RemovingTheLastSectionLeavesNoTrailingBlankLine)
{
    const std::string text = "WINE REGISTRY Version 2\n;; c\n\n#arch=win64\n\n[A] "
                             "1\n#time=1\n\n[A\\\\B] 2\n#time=2\n\"v\"=\"x\"\n";
    auto hive = parseOk(text);
    ASSERT_TRUE(hive->remove(keyAt(*hive, { u"A", u"B" })));
    EXPECT_EQ(hive->serialize(kWriteTime),
        "WINE REGISTRY Version 2\n;; c\n\n#arch=win64\n\n[A] 1\n#time=1\n");
}

// Duplicate and case-variant sections are one key; removing it drops all of them.
TEST(Hive, CaseVariantSectionsAreOneKey)
{
    const std::string text = "WINE REGISTRY Version 2\n\n[Keep] 1\n\n[Dup\\\\X] "
                             "1\n\"a\"=\"1\"\n\n[Keep\\\\Y] 1\n\n[DUP\\\\x] 2\n\"b\"=\"2\"\n";
    auto hive = parseOk(text);
    HiveKey *dup = keyAt(*hive, { u"dup", u"X" });
    ASSERT_NE(dup, nullptr);
    EXPECT_EQ(dup->sections.size(), 2u);
    ASSERT_TRUE(hive->remove(dup));
    EXPECT_EQ(hive->serialize(kWriteTime),
        "WINE REGISTRY Version 2\n\n[Keep] 1\n\n[Dup] "
        "1796688663\n#time=1dd86a89ce0f880\n\n[Keep\\\\Y] 1\n");
}

// Lines Wine's loader rejects (a header without its bracket) belong to no key and survive any
// removal around them; CRLF files keep CRLF.
TEST(Hive, RejectedLinesAndLineEndsAreKept)
{
    const std::string text = "WINE REGISTRY Version 2\r\n\r\n[A\\\\B] 1\r\n\"v\"=hex:01,\\\r\n  "
                             "02\r\n\r\n[Broken 1\r\n\"w\"=\"1\"\r\n\r\n[Lead] 1\r\n";
    auto hive = parseOk(text);
    ASSERT_EQ(hive->root()->children.size(), 2u);
    removeTree(*hive, keyAt(*hive, { u"A" }));
    EXPECT_EQ(hive->serialize(kWriteTime),
        "WINE REGISTRY Version 2\r\n\r\n[Broken 1\r\n\"w\"=\"1\"\r\n\r\n[Lead] 1\r\n");
}

// Wine reads a header with a leading separator as the same path without it (seen with Wine 8:
// after such a section's parent is deleted, Wine must not bring the parent back). Removing the
// parent's tree therefore takes that section too.
TEST(Hive, LeadingSeparatorNamesTheSameKey)
{
    const std::string text
        = "WINE REGISTRY Version 2\n\n[Software\\\\KS\\\\Alpha] 1\n\"a\"=\"1\"\n\n"
          "[\\\\Software\\\\KS\\\\Alpha\\\\LeadSep] 1\n\"b\"=\"2\"\n\n"
          "[Software\\\\KS\\\\Beta] 1\n";
    auto hive = parseOk(text);
    HiveKey *alpha = keyAt(*hive, { u"Software", u"KS", u"Alpha" });
    ASSERT_NE(alpha, nullptr);
    ASSERT_EQ(alpha->children.size(), 1u);
    EXPECT_EQ(alpha->children[0]->name, u"LeadSep");
    removeTree(*hive, alpha);
    EXPECT_EQ(
        hive->serialize(kWriteTime), "WINE REGISTRY Version 2\n\n[Software\\\\KS\\\\Beta] 1\n");
}

// A header is a line whose first non-blank character is '['; a bracket anywhere else in a line,
// even in a value, opens no section.
TEST(Hive, HeadersStartLinesOnly)
{
    const std::string text = "WINE REGISTRY Version 2\n\n[A] 1\n\"v\"=\"[B] x\"\n \t[C] 1\n"
                             "\"w\"=\"1\"\n  \n\t\n";
    auto hive = parseOk(text);
    EXPECT_NE(keyAt(*hive, { u"A" }), nullptr);
    EXPECT_EQ(keyAt(*hive, { u"B" }), nullptr);
    ASSERT_NE(keyAt(*hive, { u"C" }), nullptr);
    ASSERT_TRUE(hive->remove(keyAt(*hive, { u"C" })));
    EXPECT_EQ(
        hive->serialize(kWriteTime), "WINE REGISTRY Version 2\n\n[A] 1\n\"v\"=\"[B] x\"\n  \n\t\n");

    // Hex data whose bytes end in a backslash goes on to the next line, as Wine reads it, whatever
    // that line holds: the header there is no header. Data that ends otherwise (a byte that is
    // not hex: Wine refuses the value), a string, or a value of no key (before any header, or
    // under one Wine refuses, as a level over 256 characters) goes on to nothing.
    const struct {
        const char *name;
        std::string lines; // then the header [B] 1
        bool bIsAKey;
    } continuations[] = {
        { "hex", "[A] 1\n\"h\"=hex:01,\\\r\n", false },
        { "hex(7), default value", "[A] 1\n@=hex(7):02,\\\n", false },
        { "white space around = and after the backslash", "[A] 1\n\"h\" = hex:01, 02 ,\\  \n",
            false },
        { "hex() of no type, continued twice", "[A] 1\n\"h\"=hex():01,\\\n  02,\\\n", false },
        { "a string", "[A] 1\n\"s\"=\"x\\\n", true },
        { "a byte that is not hex", "[A] 1\n\"h\"=hex:01,zz,\\\n", true },
        { "a continued line of no hex", "[A] 1\n\"h\"=hex:01,\\\n  zz,\\\n", true },
        { "a byte over 0xff", "[A] 1\n\"h\"=hex:100,\\\n", true },
        { "no key yet", "\"h\"=hex:01,\\\n", true },
        { "under a level too long", "[A\\\\" + std::string(257, 'x') + "] 1\n\"h\"=hex:01,\\\n",
            true },
    };
    for (const auto &c : continuations) {
        auto read = parseOk("WINE REGISTRY Version 2\n\n" + c.lines + "[B] 1\n");
        EXPECT_EQ(keyAt(*read, { u"B" }) != nullptr, c.bIsAKey) << c.name;
    }
    // Wine takes a level of 256 characters, and none longer.
    for (const std::size_t length : { 256, 257 }) {
        const std::u16string level(length, u'x');
        auto read
            = parseOk("WINE REGISTRY Version 2\n\n[A\\\\" + std::string(length, 'x') + "] 1\n");
        EXPECT_EQ(keyAt(*read, { u"A", std::u16string_view(level) }) != nullptr, length == 256);
    }
}

// Consecutive headers that start alike name the same keys as they would apart: an escape
// just before a separator, a doubled separator after shared levels, and a shared prefix that
// ends inside a level.
TEST(Hive, HeadersSharingTheirStartNameTheSameKeys)
{
    auto hive = parseOk(R"(WINE REGISTRY Version 2

[A\\\x41\\B] 1

[A\\\x41\\\\C] 1

[A\\\x410\\D] 1

[A\\\x41\\B\\E] 1
)");
    EXPECT_NE(keyAt(*hive, { u"A", u"A", u"B" }), nullptr);
    EXPECT_NE(keyAt(*hive, { u"A", u"A", u"C" }), nullptr);
    EXPECT_NE(keyAt(*hive, { u"A", u"\u0410", u"D" }), nullptr);
    EXPECT_NE(keyAt(*hive, { u"A", u"A", u"B", u"E" }), nullptr);
    EXPECT_EQ(hive->root()->children.size(), 1u);
    EXPECT_EQ(keyAt(*hive, { u"A" })->children.size(), 2u);
}

// The root can never go, nor a key that still has sub-keys; a removed key cannot go twice.
TEST(Hive, RefusesToRemoveTheRootOrAKeyWithSubKeys)
{
    auto hive = parseOk(kUserHive);
    EXPECT_FALSE(hive->remove(hive->root()));
    HiveKey *alpha = keyAt(*hive, { u"Software", u"The toolTest", u"Alpha" });
    EXPECT_FALSE(hive->remove(alpha));
    EXPECT_FALSE(hive->changed());
    HiveKey *leaf = alpha->children.back();
    EXPECT_TRUE(hive->remove(leaf));
    EXPECT_FALSE(hive->remove(leaf));
    EXPECT_TRUE(hive->changed());
}

// Sections of the root itself ("[]") hold root values and are never removed.
TEST(Hive, RootSectionBelongsToTheRoot)
{
    auto hive = parseOk("WINE REGISTRY Version 2\n\n[] 1\n\"r\"=\"1\"\n\n[A] 1\n");
    EXPECT_EQ(hive->root()->sections.size(), 1u);
    removeTree(*hive, keyAt(*hive, { u"A" }));
    EXPECT_EQ(hive->serialize(kWriteTime), "WINE REGISTRY Version 2\n\n[] 1\n\"r\"=\"1\"\n");
}

// Keys lie at any depth, as Wine loads them (a 603-level key was seen in a Wine hive).
TEST(Hive, KeysDeeperThan512LevelsAreKeys)
{
    std::string deep = "WINE REGISTRY Version 2\n\n[L";
    for (int level = 1; level < 603; ++level)
        deep += "\\\\L";
    auto hive = parseOk(deep + "] 1\n");
    std::size_t depth = 0;
    for (HiveKey *key = hive->root(); !key->children.empty(); key = key->children.front())
        ++depth;
    EXPECT_EQ(depth, 603u);
}

} // namespace
