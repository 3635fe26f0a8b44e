// Key names: Wine's escapes decode to the right UTF-16 units, and names compare by simple case
// folding.
#include "keysweep/KeyName.h"

#include <gtest/gtest.h>

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
        EscapeCase { "RawByteThatIsNotUtf8",
            "a\xff"
            "b]",
            u"a\u00ffb" },
        EscapeCase { "SurrogatePairEscapes", R"(\xd83d\xde00])", u"\U0001F600" }),
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
    EXPECT_FALSE(path->leadingSeparator);
    EXPECT_EQ(raw[path->endOffset], ']');

    const auto leading = decodeKeyPath(R"(\\Software])", ']');
    ASSERT_TRUE(leading.has_value());
    EXPECT_TRUE(leading->leadingSeparator);
}

// A plain ASCII path and the same path spelled with escapes decode alike, offsets included.
TEST(KeyName, PlainAndEscapedPathsDecodeAlike)
{
    const auto plain = decodeKeyPath(R"(Software\\The toolTest\\Alpha] 1)", ']');
    const auto escaped = decodeKeyPath(R"(Software\\The toolTest\\\x41lpha] 1)", ']');
    ASSERT_TRUE(plain && escaped);
    ASSERT_EQ(plain->components.size(), 3u);
    ASSERT_EQ(escaped->components.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(plain->components[i].name, escaped->components[i].name);
        EXPECT_EQ(plain->components[i].rawBegin, escaped->components[i].rawBegin);
    }
    EXPECT_EQ(plain->components[1].rawEnd, 22u);
    EXPECT_EQ(plain->endOffset, 29u);
    EXPECT_FALSE(decodeKeyPath(R"(Software\\Alpha)", ']').has_value());
    EXPECT_TRUE(decodeKeyPath(R"(\\Alpha])", ']')->leadingSeparator);
}

// Case-variant names, ASCII or not, are one key; different names stay different.
TEST(KeyName, SimpleCaseFoldingMatchesCaseVariants)
{
    EXPECT_EQ(foldCase(u"ÜNÏCÖDÉ КЛЮЧ 子键"), foldCase(u"ünïcödé ключ 子键"));
    EXPECT_EQ(foldCase(u"ΣΑΣ"), foldCase(u"σας"));
    EXPECT_EQ(foldCase(u"\U00010400"), u"\U00010428"); // Deseret, outside the BMP
    EXPECT_NE(foldCase(u"Alpha"), foldCase(u"AlphaBeta"));
    EXPECT_NE(foldCase(u"straße"), foldCase(u"STRASSE")); // simple folding keeps ß
}

// Names cross the command line as UTF-8 and come back as the same units, unpaired surrogates
// included; bytes that are not UTF-8 cannot match a stored name.
TEST(KeyName, Utf8RoundTripKeepsEveryUnit)
{
    const std::u16string names[]
        = { u"Ключ 子键", u"\U0001F600", std::u16string(1, char16_t(0xD800)) + u"x" };
    for (const auto &name : names)
        EXPECT_EQ(fromUtf8(toUtf8(name)), name);
    EXPECT_EQ(toUtf8(u"Grüße"),
        "Gr\xc3\xbc\xc3\x9f"
        "e");
    EXPECT_EQ(fromUtf8("a\xff"), u"a\uFFFD");
    EXPECT_EQ(fromUtf8("\xc0\xaf"), u"\uFFFD\uFFFD"); // an overlong '/'
}

} // namespace
