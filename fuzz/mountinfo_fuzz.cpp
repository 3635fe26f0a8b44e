// The kernel's mount table as the drive box reads it: any bytes must parse without reading out
// of bounds, and classifying what was parsed must not fail either.
#include "MountTable.h"

#include <cstddef>
#include <cstdint>

namespace {

class NoFacts final : public filctl95::MountFacts {
public:
    bool isRemovableDevice(quint32, quint32) const override { return false; }
    QString volumeLabel(const filctl95::MountEntry &entry) const override { return entry.source; }
    bool isFolder(const QString &path) const override { return path.size() % 2 == 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto drives = filctl95::drivesFromMounts(filctl95::parseMountInfo(bytes), NoFacts());
    for (const auto &drive : drives)
        (void)filctl95::driveRootOf(drive.root + QStringLiteral("/x"), drives);
    return 0;
}
