// Key names: Wine's escapes decode to the right UTF-16 units, and names compare as Wine compares
// them.
#include "keysweep/KeyName.h"

#include <cstdint>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

using namespace keysweep;

namespace {

struct EscapeCase {
    const char *name;
    std::string_view escaped; // up to and including the closing ']'
    std::u16string decoded;
};

class DecodeEscaped : public ::testing::TestWithParam<EscapeCase> { };

// Each escape form the loader reads gives the units Wine stored.
TEST_P(DecodeEscaped, GivesTheUnitsWineStored)
{
    const auto decoded = decodeEscaped(GetParam().escaped, ']');
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(KeyName, DecodeEscaped,
    ::testing::Values(
        EscapeCase { "HexUnitsPaddedBeforeHexDigits",
            R"(\xdcn\x00efc\x00f6d\xe9 \x41a\x43b\x44e\x447 \x5b50\x952e])", u"Ünïcödé Ключ 子键" },
        EscapeCase { "EscapedBrackets", R"(Name\[br\]acket])", u"Name[br]acket" },
        EscapeCase { "OctalTakesAtMostThreeDigits", R"(\0017])",
            u"\u0001"
            u"7" },
        EscapeCase { "ShortOctal", R"(a\1b])", u"a\u0001b" },
        EscapeCase { "CEscapes", R"(\a\b\t\n\v\f\r\e])", u"\a\b\t\n\v\f\r\u001b" },
        EscapeCase { "HexTakesAtMostFourDigits", R"(\x1F600])",
            u"\u1f60"
            u"0" },
        EscapeCase { "BareXIsItself", R"(\xg])", u"xg" },
        EscapeCase { "OtherEscapedCharacterIsItself", R"(\q\"\\])", u"q\"\\" },
        EscapeCase { "RawUtf8",
            "Gr\xc3\xbc\xc3\x9f"
            "e \xe2\x82\xac]",
            u"Grüße €" },
        EscapeCase { "RawBytesThatAreNotUtf8AreDropped",
            "B\xff"
            "x\xe2\x82]",
            u"Bx" },
        EscapeCase { "EscapedRawUtf8IsItself", "E\\\xc3\xa9]", u"E\u00e9" },
        EscapeCase { "SurrogatePairEscapes", R"(\xd83d\xde00])", u"\U0001F600" },
        // Surrogates written as UTF-8 characters of their own are kept as units, alone or not.
        EscapeCase { "RawUtf8Surrogates",
            "A\xed\xa0\x81\xed\xb0\x80"
            "B\xed\xa0\x81\xe3\x81]",
            u"A\xd801\xdc00"
            u"B\xd801" }),
    [](const auto &testCase) { return std::string(testCase.param.name); });

// A line cut before its closing bracket, or with a NUL or a lone backslash at the end, is
// malformed and names no key.
TEST(KeyName, UnterminatedOrBrokenTextIsMalformed)
{
    EXPECT_FALSE(decodeEscaped("Software\\\\Alpha", ']').has_value());
    EXPECT_FALSE(decodeEscaped("Alpha\\", ']').has_value());
    EXPECT_FALSE(decodeEscaped(std::string_view("Al\0pha]", 7), ']').has_value());
    EXPECT_FALSE(decodeEscaped("Alpha\\]", ']').has_value()); // the bracket is escaped
}

// Levels split at backslash units only, with doubled separators dropped; the escaped text of
// each level is located exactly.
TEST(KeyName, PathSplitsIntoLevelsAtBackslashUnits)
{
    const std::string_view raw = R"(Software\\\\Name\[x\]\\\x41b] 123)";
    const auto path = decodeKeyPath(raw, ']');
    ASSERT_TRUE(path.has_value());
    ASSERT_EQ(path->components.size(), 3u);
    EXPECT_EQ(path->components[0].name, u"Software");
    EXPECT_EQ(path->components[1].name, u"Name[x]");
    EXPECT_EQ(raw.substr(path->components[1].rawBegin,
                  path->components[1].rawEnd - path->components[1].rawBegin),
        R"(Name\[x\])");
    EXPECT_EQ(path->components[2].name, u"\u041b"); // hex takes every digit it can: 41b
    EXPECT_EQ(raw[path->endOffset], ']');
}

// Wine skips every empty level, leading ones included: a header that starts with a separator
// names the same key as one without it, and one made only of separators names the root.
TEST(KeyName, EmptyLevelsAreSkippedWhereverTheyAre)
{
    for (const std::string_view raw : { R"(\\Software\\KS\\LeadSep])",
             R"(Software\\\\KS\\LeadSep\\])", R"(\\\\Software\\KS\\\\LeadSep])" }) {
        const auto path = decodeKeyPath(raw, ']');
        ASSERT_TRUE(path.has_value()) << raw;
        std::vector<std::u16string> names;
        for (const auto &component : path->components)
            names.push_back(component.name);
        EXPECT_EQ(names, (std::vector<std::u16string> { u"Software", u"KS", u"LeadSep" })) << raw;
        EXPECT_EQ(raw.substr(path->components[0].rawBegin, 8), "Software") << raw;
    }
    EXPECT_TRUE(decodeKeyPath(R"(\\\\])", ']')->components.empty());
}

// Case-variant names, ASCII or not, are one key; names that only Unicode case folding (not
// Wine's per-unit lower-casing) would merge stay apart, as they do in Wine.
TEST(KeyName, LowerCasesEachUnitAsWineDoes)
{
    EXPECT_EQ(lowerCase(u"ÜNÏCÖDÉ КЛЮЧ 子键"), lowerCase(u"ünïcödé ключ 子键"));
    EXPECT_EQ(lowerCase(u"ΣA"), lowerCase(u"σA"));
    EXPECT_NE(lowerCase(u"Alpha"), lowerCase(u"AlphaBeta"));
    const std::pair<std::u16string, std::u16string> apart[] = {
        { u"Aſ", u"As" },
        { u"Mµ", u"Mμ" },
        { u"Sς", u"Sσ" },
        { u"Xẞ", u"Xß" },
        { u"D\U00010400", u"D\U00010428" }, // Deseret: surrogates compare unit by unit
        { u"Kǅ", u"Kǆ" },
        { u"straße", u"STRASSE" },
    };
    for (const auto &[one, other] : apart)
        EXPECT_NE(lowerCase(one), lowerCase(other));
}

// The lower-casing equals Wine's own table (l_intl.nls, as its server reads it) for every unit.
TEST(KeyName, LowerCaseTableEqualsWines)
{
    const char *tablePath = "/usr/share/wine/nls/l_intl.nls";
    std::ifstream in(tablePath, std::ios::binary);
    if (!in)
        GTEST_SKIP() << tablePath << " is missing (Wine is not installed)";
    std::vector<std::uint16_t> words;
    unsigned char pair[2];
    while (in.read(reinterpret_cast<char *>(pair), 2))
        words.push_back(std::uint16_t(pair[0] | (pair[1] << 8)));
    ASSERT_GT(words.size(), 2u);
    // The upper-case table follows a two-word header and is words[1] long; the lower-case one
    // follows it. Each is a three-level table of differences.
    const std::size_t lower = 2 + words[1];
    const auto wineLower = [&](std::uint16_t unit) {
        const auto at = [&](std::size_t index) { return words.at(lower + index); };
        return std::uint16_t(unit + at(at(at(unit >> 8) + ((unit >> 4) & 0xf)) + (unit & 0xf)));
    };
    int differences = 0;
    for (std::uint32_t unit = 0; unit < 0x10000; ++unit) {
        const char16_t one = char16_t(unit);
        const std::u16string lowered = lowerCase(std::u16string_view(&one, 1));
        if (lowered[0] != wineLower(std::uint16_t(unit)) && ++differences <= 10)
            ADD_FAILURE() << std::hex << "U+" << unit << ": " << int(lowered[0]) << " vs Wine's "
                          << wineLower(std::uint16_t(unit));
    }
    EXPECT_EQ(differences, 0);
}

// Names cross the command line as UTF-8; bytes that are not UTF-8 cannot match a stored name.
TEST(KeyName, CommandLineNamesAreUtf8)
{
    EXPECT_EQ(fromUtf8("Ключ \xf0\x9f\x98\x80"), u"Ключ \U0001F600");
    EXPECT_EQ(fromUtf8("a\xff"), u"a\uFFFD");
}

} // namespace
