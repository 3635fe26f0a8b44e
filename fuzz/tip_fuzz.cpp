// Tip-file reader: any bytes must split without fault, and the split must not depend on how the
// bytes arrive. Each input is read whole, then again in chunks whose sizes come from the input,
// and both are checked against a plain byte-by-byte reading of the line rules.
#include "TipFile.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The line rules, one byte at a time, as simply as they can be said.
std::vector<std::string> referenceLines(std::string_view bytes)
{
    std::vector<std::string> lines;
    std::string line;
    bool pending = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\x1a')
            break;
        if (c == '\r') {
            lines.push_back(line);
            line.clear();
            pending = false;
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n')
                ++i;
            continue;
        }
        line.push_back(c);
        pending = true;
    }
    if (pending)
        lines.push_back(line);
    return lines;
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const std::vector<std::string> whole = orvkit::tipLines(bytes);
    check(whole == referenceLines(bytes));

    // Chunk sizes 1 to 8, taken in turn from the input's own bytes.
    std::vector<std::string> chunked;
    std::size_t counted = 0;
    orvkit::TipLineReader reader(orvkit::TipLineReader::Text::Keep, [&](std::string_view text) {
        chunked.emplace_back(text);
        return orvkit::TipLineReader::Next::More;
    });
    // A reader that keeps a short head of each line sees the same lines, cut.
    constexpr std::size_t kHead = 3;
    std::vector<std::string> heads;
    orvkit::TipLineReader headReader(
        orvkit::TipLineReader::Text::Keep,
        [&](std::string_view text) {
            heads.emplace_back(text);
            return orvkit::TipLineReader::Next::More;
        },
        kHead);
    orvkit::TipLineReader counter(orvkit::TipLineReader::Text::Drop, [&](std::string_view text) {
        check(text.empty());
        ++counted;
        return orvkit::TipLineReader::Next::More;
    });
    for (std::size_t at = 0, turn = 0; at < size; ++turn) {
        const std::size_t length = std::min<std::size_t>(size - at, 1 + data[turn % size] % 8);
        reader.feed(bytes.substr(at, length));
        counter.feed(bytes.substr(at, length));
        headReader.feed(bytes.substr(at, length));
        at += length;
    }
    reader.finish();
    counter.finish();
    headReader.finish();
    check(chunked == whole);
    check(heads.size() == whole.size());
    for (std::size_t i = 0; i < heads.size() && i < whole.size(); ++i)
        check(heads[i] == whole[i].substr(0, kHead));
    check(counted == whole.size());

    // Line lookup agrees with the split, past the end included.
    check(orvkit::tipLine(bytes, 0) == orvkit::kErrorLoadingTip);
    for (std::size_t n = 1; n <= whole.size() + 1 && n <= 64; ++n) {
        const std::string expected = whole.empty() ? std::string(orvkit::kErrorLoadingTip)
                                                   : whole[std::min(n, whole.size()) - 1];
        check(orvkit::tipLine(bytes, static_cast<std::uint32_t>(n)) == expected);
    }
    return 0;
}
