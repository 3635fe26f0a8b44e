#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Key names as Wine keeps them: UTF-16 code units, compared without regard to case. Names cross
// the command line and the accessor as 8-bit strings in UTF-8. All functions are pure, so any
// thread may call them.
namespace keysweep {

// One level of an escaped key path as written in a hive, and where its escaped text lies.
struct PathComponent {
    std::u16string name; // decoded
    std::size_t rawBegin = 0; // byte offsets of the escaped text, relative to the input
    std::size_t rawEnd = 0;
};

// A section header's path, decoded the way Wine's loader decodes it.
struct DecodedPath {
    std::vector<PathComponent> components; // empty levels (doubled separators) are dropped
    bool leadingSeparator = false; // Wine refuses such a path: it names no key
    std::size_t endOffset = 0; // offset of the closing `end` character
};

// Decodes escaped text up to the first unescaped `end` character: `\\`, `\[`, `\]`, `\"`, the
// C escapes \a \b \t \n \v \f \r \e, `\x` with 1-4 hex digits (one UTF-16 unit), `\` with 1-3
// octal digits, any other escaped character as itself, and raw UTF-8 (a byte that is not valid
// UTF-8 stands for the unit of the same value). Returns nothing when `end` never comes or a NUL
// byte is met first, which the loader treats as a malformed line.
std::optional<std::u16string> decodeEscaped(std::string_view text, char end);

// As decodeEscaped, split at each backslash unit into the levels of a key path.
std::optional<DecodedPath> decodeKeyPath(std::string_view text, char end);

// The same into `path`, reusing its storage (the reader decodes every section header this way);
// false for a malformed string, leaving `path` unspecified.
bool decodeKeyPath(std::string_view text, char end, DecodedPath &path);

// UTF-8 to UTF-16. Encoded surrogates (as toUtf8 writes them) come back as the same units;
// bytes that are not UTF-8 become U+FFFD, so they can never match a stored name by accident.
std::u16string fromUtf8(std::string_view text);

// UTF-16 to UTF-8; an unpaired surrogate is written as its own three-byte form.
std::string toUtf8(std::u16string_view units);

// Unicode simple case folding of each code point (unpaired surrogates stay as they are). Two
// names are the same key exactly when their folded forms are equal.
std::u16string foldCase(std::u16string_view units);

} // namespace keysweep
