#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Key names as Wine keeps them: UTF-16 code units, compared without regard to case the way Wine
// compares them. All functions are pure, so any thread may call them.
namespace keysweep {

// One level of an escaped key path as written in a hive, and where its escaped text lies.
struct PathComponent {
    std::u16string name; // decoded
    std::size_t rawBegin = 0; // byte offsets of the escaped text, relative to the input
    std::size_t rawEnd = 0;
};

// A section header's path, decoded the way Wine's loader decodes it.
struct DecodedPath {
    std::vector<PathComponent> components; // empty levels (leading, doubled, trailing) dropped
    std::size_t endOffset = 0; // offset of the closing `end` character
};

// Decodes escaped text up to the first unescaped `end` character: `\\`, `\[`, `\]`, `\"`, the
// C escapes \a \b \t \n \v \f \r \e, `\x` with 1-4 hex digits (one UTF-16 unit), `\` with 1-3
// octal digits, any other escaped character as itself, and raw UTF-8 (bytes that are not UTF-8
// are dropped, as Wine drops them). Returns nothing when `end` never comes or a NUL byte is met
// first, which the loader treats as a malformed line.
std::optional<std::u16string> decodeEscaped(std::string_view text, char end);

// As decodeEscaped, split at each backslash unit into the levels of a key path.
std::optional<DecodedPath> decodeKeyPath(std::string_view text, char end);

// UTF-8 to UTF-16; bytes that are not UTF-8 become U+FFFD.
std::u16string fromUtf8(std::string_view text);

// Wine's case rule: each UTF-16 unit on its own lower-cased with Wine's table (Unicode's simple
// lower-case mapping without the title-case digraphs and a few capitals, see the source).
// Surrogates stay as they are. Two names are the same key exactly when these are equal.
std::u16string lowerCase(std::u16string_view units);

} // namespace keysweep
