// The play-list reader over arbitrary bytes: it must split anything without reading past the
// buffer, agree with the reading rules applied one byte at a time, and the names it yields must
// come back as the same bytes.
#include "FileNames.h"
#include "PathList.h"
#include "PlayListFile.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The reading rules, as plainly as they can be put.
QList<QByteArray> splitByteByByte(QByteArrayView bytes)
{
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\0')
            break;
        if (c == '\n' && i > 0 && bytes[i - 1] == '\r')
            continue;
        if (c == '\r' || c == '\n') {
            lines.append(line);
            line.clear();
        } else {
            line.append(c);
        }
    }
    if (!line.isEmpty())
        lines.append(line);
    return lines;
}

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
    using tunedeck::playlistfile::LineScan;
    const QList<QByteArray> lines = splitByteByByte(bytes);
    // Over the fuzzer's own buffer, not a copy (whose terminator and spare room would hide a read
    // past the end).
    const QByteArray exact = QByteArray::fromRawData(bytes.data(), bytes.size());
    tunedeck::PathList list;
    for (const LineScan scan : { LineScan::Sse2, LineScan::Portable, LineScan::Widest }) {
        tunedeck::playlistfile::useLineScanForTesting(scan);
        list = tunedeck::playlistfile::parseList(exact);
        if (linesOf(list) != lines)
            std::abort();
    }
    for (const QByteArray &line : lines) {
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            std::abort();
        if (tunedeck::fileNameToBytes(tunedeck::fileNameFromBytes(line)) != line)
            std::abort();
    }
    // Written back, the lines read the same.
    if (linesOf(tunedeck::playlistfile::parseList(list.toLines())) != lines)
        std::abort();
    return 0;
}
