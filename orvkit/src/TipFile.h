#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace orvkit {

// A tip file is 8-bit text holding one tip a line, in file order, numbered from 1. A carriage
// return (13) ends a line and a line feed (10) directly after it is skipped; a line feed anywhere
// else is part of the line's text. Ctrl-Z (26) ends the content: nothing after it is read. A last
// line without a line end still counts, and an empty line is a tip with empty text.

// The text shown when the wanted line cannot be found (line 0, or an empty file).
inline constexpr std::string_view kErrorLoadingTip = "Error loading tip";

// The most lines a tip file is taken to have: the dialog numbers tips with 16 bits, so lines past
// this one are never counted or shown.
inline constexpr std::uint16_t kMaxTips = 65535;

// Splits a tip file into lines as its bytes arrive in chunks of any size, so a file need not be
// held whole and a chunk boundary may fall anywhere (even between a carriage return and its line
// feed). Pure: it reads nothing itself. One reader serves one pass over one file, on one thread.
class TipLineReader {
public:
    enum class Next { More, Stop };
    // Whether the lines' text is collected; counting needs only the line ends.
    enum class Text { Keep, Drop };
    // Receives each complete line in file order. The view is valid only during the call and is
    // empty under Text::Drop. Returning Stop ends the pass.
    using LineFn = std::function<Next(std::string_view text)>;

    // Under Text::Keep, each line's text is cut to its first `keepBytes` bytes: a line may be of
    // any length, and only this much of it is ever held.
    TipLineReader(
        Text text, LineFn onLine, std::size_t keepBytes = std::numeric_limits<std::size_t>::max());

    // Takes the next bytes of the file. Returns false once the content has ended (Ctrl-Z was
    // read, or the receiver said Stop); later bytes, in this call or the next, are ignored.
    bool feed(std::string_view bytes);
    // The file ends here: delivers a last line that has no line end.
    void finish();
    bool ended() const { return m_ended; }

private:
    void deliverLine();

    LineFn m_onLine;
    std::string m_line;
    Text m_text;
    std::size_t m_keepBytes;
    bool m_inLine = false; // Bytes of a line not yet ended have been read.
    bool m_afterCr = false; // The last byte read was a carriage return ending a line.
    bool m_ended = false;
};

// Every line of a whole tip file, in file order (no cap on the count).
std::vector<std::string> tipLines(std::string_view bytes);

// The text of line `number` (1-based) as the dialog finds it: that line, the last line when the
// file has fewer lines, or kErrorLoadingTip when `number` is 0 or the file has no lines.
std::string tipLine(std::string_view bytes, std::uint32_t number);

} // namespace orvkit
