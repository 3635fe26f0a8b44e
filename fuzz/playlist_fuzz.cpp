// The play-list reader over arbitrary bytes: it must split anything without reading past the
// buffer, lose no byte but line ends, and the names it yields must come back as the same bytes.
#include "FileNames.h"
#include "PathList.h"
#include "PlayListFile.h"

#include <cstdint>
#include <cstdlib>

namespace {

QList<QByteArray> linesOf(const tunedeck::PathList &list)
{
    QList<QByteArray> lines;
    for (qsizetype i = 0; i < list.size(); ++i)
        lines.append(list.bytesAt(i).toByteArray());
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    // Over the fuzzer's own buffer, not a copy (whose terminator and spare room would hide a read
    // past the end).
    const tunedeck::PathList list = tunedeck::playlistfile::parseList(bytes);
    const QList<QByteArray> lines = linesOf(list);
    qsizetype taken = 0;
    for (const QByteArray &line : lines) {
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            std::abort();
        taken += line.size();
        if (tunedeck::fileNameToBytes(tunedeck::fileNameFromBytes(line)) != line)
            std::abort();
    }
    // Every byte before the first NUL is in a line or is a line end: nothing is lost.
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArrayView text = nul < 0 ? bytes : bytes.first(nul);
    if (taken + text.count('\r') + text.count('\n') != text.size())
        std::abort();
    // Written back, the lines read the same.
    if (linesOf(tunedeck::playlistfile::parseList(list.toLines())) != lines)
        std::abort();
    return 0;
}
