// The play-list reader over arbitrary bytes: it must split anything without reading past the
// buffer, and the names it yields must come back as the same bytes.
#include "FileNames.h"
#include "PlayListFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> lines = tunedeck::playlistfile::parse(bytes);
    for (const QByteArray &line : lines) {
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            std::abort();
        if (tunedeck::fileNameToBytes(tunedeck::fileNameFromBytes(line)) != line)
            std::abort();
    }
    // Written back, the lines read the same.
    if (tunedeck::playlistfile::parse(tunedeck::playlistfile::serialise(lines)) != lines)
        std::abort();
    return 0;
}
