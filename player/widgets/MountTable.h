#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>

// What the drive box lists on Linux: a "drive" is a mounted file system the user can browse, one
// per mount point. The kernel's mount table is parsed from bytes and classified against a few
// facts about the system, both behind plain functions so tests feed them doubles.
namespace filctl95 {

// The kinds of drive the browser tells apart, each with its own picture.
enum class DriveKind { Removable, Fixed, Network, CdRom, Ram };

// One line of /proc/<pid>/mountinfo with its octal escapes (\040 and friends) undone.
struct MountEntry {
    QString mountPoint;
    QString fsType;
    QString source;
    quint32 deviceMajor = 0;
    quint32 deviceMinor = 0;
};

// Parses the text of /proc/<pid>/mountinfo. Lines that do not have the format (too few fields,
// no " - " separator, a bad device number) are skipped; never reads past `text`. Any thread.
QList<MountEntry> parseMountInfo(QByteArrayView text);

// What the classification needs to know beyond the table. The system's answers read sysfs and
// /dev/disk; tests answer from a table of their own. Called on the thread that classifies.
class MountFacts {
public:
    virtual ~MountFacts() = default;
    // The kernel's removable flag of the block device (or of the disk holding the partition).
    virtual bool isRemovableDevice(quint32 major, quint32 minor) const = 0;
    // The volume label of a local mount, empty when it has none.
    virtual QString volumeLabel(const MountEntry &entry) const = 0;
    // Whether the mount point is a folder (a bind mount may put a file there). Asked only for
    // local mounts not served by a FUSE program, so a dead network mount or a program that
    // stopped answering is never touched.
    virtual bool isFolder(const QString &path) const = 0;
};

// A row of the drive box.
struct DriveInfo {
    QString root; // The mount point: absolute, no trailing "/" except for "/" itself.
    DriveKind kind = DriveKind::Fixed;
    QString text; // The row's text: the root, then "[label]" (when there is one) or the remote
                  // source, lower case.
    friend bool operator==(const DriveInfo &, const DriveInfo &) = default;
};

// The drives among `mounts`: pseudo file systems, the system's own trees (/proc, /sys, /dev,
// /run except /run/media, /snap) and file bind mounts are left out; a mount point mounted twice
// counts once, with the later (visible) mount. Sorted by root, so "/" comes first.
QList<DriveInfo> drivesFromMounts(const QList<MountEntry> &mounts, const MountFacts &facts);

// The root among `roots` that holds `path` (the longest one that is `path` or a folder above
// it); "/" when none does.
QString driveRootOf(const QString &path, const QList<DriveInfo> &drives);

} // namespace filctl95
