#include "TipFile.h"

#include <algorithm>
#include <utility>

namespace orvkit {

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kCtrlZ = '\x1a';

// The first carriage return or Ctrl-Z at or after `at`, the bytes that end a line or the content;
// npos if none. Two memchr-backed searches, the second only up to the line's end: lines may be
// hundreds of megabytes long.
std::size_t findLineStop(std::string_view bytes, std::size_t at)
{
    const std::size_t carriageReturn = bytes.find(kCarriageReturn, at);
    const std::size_t lineEnd
        = carriageReturn == std::string_view::npos ? bytes.size() : carriageReturn;
    const std::size_t ctrlZ = bytes.substr(0, lineEnd).find(kCtrlZ, at);
    return ctrlZ != std::string_view::npos ? ctrlZ : carriageReturn;
}

} // namespace

TipLineReader::TipLineReader(Text text, LineFn onLine, std::size_t keepBytes)
    : m_onLine(std::move(onLine))
    , m_text(text)
    , m_keepBytes(keepBytes)
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
        const std::size_t stop = findLineStop(bytes, at);
        const std::size_t textEnd = stop == std::string_view::npos ? bytes.size() : stop;
        if (textEnd > at) {
            m_inLine = true;
            if (m_text == Text::Keep && m_line.size() < m_keepBytes) {
                const std::size_t room = m_keepBytes - m_line.size();
                m_line.append(bytes.substr(at, std::min(textEnd - at, room)));
            }
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
