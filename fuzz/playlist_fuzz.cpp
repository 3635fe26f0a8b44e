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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    using tunedeck::playlistfile::LineScan;
    const QList<QByteArray> lines = splitByteByByte(bytes);
    for (const LineScan scan : { LineScan::Sse2, LineScan::Portable, LineScan::Widest }) {
        tunedeck::playlistfile::useLineScanForTesting(scan);
        if (tunedeck::playlistfile::parse(bytes) != lines)
            std::abort();
    }
    const tunedeck::PathList list = tunedeck::playlistfile::parseList(bytes.toByteArray());
    if (list.size() != lines.size())
        std::abort();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (list.bytesAt(i) != line)
            std::abort();
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            std::abort();
        if (tunedeck::fileNameToBytes(tunedeck::fileNameFromBytes(line)) != line)
            std::abort();
    }
    // Written back, the lines read the same.
    if (tunedeck::playlistfile::parse(list.toLines()) != lines)
        std::abort();
    return 0;
}
