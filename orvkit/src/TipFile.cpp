#include "TipFile.h"

#include <utility>

namespace orvkit {

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
// Carriage return and Ctrl-Z, the bytes that end a line or the content; searched for together so
// plain text is copied in runs.
constexpr std::string_view kLineStops { "\r\x1a", 2 };

} // namespace

TipLineReader::TipLineReader(Text text, LineFn onLine)
    : m_onLine(std::move(onLine))
    , m_text(text)
{ }

bool TipLineReader::feed(std::string_view bytes)
{
    std::size_t at = 0;
    while (at < bytes.size() && !m_ended) {
        if (m_afterCr) {
            m_afterCr = false;
            if (bytes[at] == kLineFeed) {
                ++at;
                continue;
            }
        }
        const std::size_t stop = bytes.find_first_of(kLineStops, at);
        const std::size_t textEnd = stop == std::string_view::npos ? bytes.size() : stop;
        if (textEnd > at) {
            m_inLine = true;
            if (m_text == Text::Keep)
                m_line.append(bytes.substr(at, textEnd - at));
        }
        if (stop == std::string_view::npos)
            break;
        if (bytes[stop] == kCarriageReturn) {
            deliverLine();
            m_afterCr = true;
        } else {
            // Ctrl-Z: a line it cuts short still counts, then nothing more is read.
            if (m_inLine)
                deliverLine();
            m_ended = true;
        }
        at = stop + 1;
    }
    return !m_ended;
}

void TipLineReader::finish()
{
    if (!m_ended && m_inLine)
        deliverLine();
    m_ended = true;
}

void TipLineReader::deliverLine()
{
    const Next next = m_onLine(m_line);
    m_line.clear();
    m_inLine = false;
    if (next == Next::Stop)
        m_ended = true;
}

std::vector<std::string> tipLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    TipLineReader reader(TipLineReader::Text::Keep, [&lines](std::string_view text) {
        lines.emplace_back(text);
        return TipLineReader::Next::More;
    });
    reader.feed(bytes);
    reader.finish();
    return lines;
}

std::string tipLine(std::string_view bytes, std::uint32_t number)
{
    std::string text { kErrorLoadingTip };
    if (number == 0)
        return text;
    TipLineReader reader(TipLineReader::Text::Keep, [&](std::string_view line) {
        text = line;
        return --number == 0 ? TipLineReader::Next::Stop : TipLineReader::Next::More;
    });
    reader.feed(bytes);
    reader.finish();
    return text;
}

} // namespace orvkit
