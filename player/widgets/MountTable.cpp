#include "MountTable.h"

#include "FileNames.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

namespace filctl95 {

namespace {

// File systems that hold no files of the user's: kernel interfaces and helpers.
constexpr std::array<std::string_view, 24> kPseudoTypes { "proc", "sysfs", "cgroup", "cgroup2",
    "devpts", "devtmpfs", "mqueue", "debugfs", "tracefs", "securityfs", "pstore", "bpf", "configfs",
    "fusectl", "hugetlbfs", "autofs", "binfmt_misc", "efivarfs", "selinuxfs", "rpc_pipefs", "nsfs",
    "nfsd", "fuse.gvfsd-fuse", "fuse.portal" };

constexpr std::array<std::string_view, 14> kNetworkTypes { "nfs", "nfs4", "cifs", "smb3", "smbfs",
    "fuse.sshfs", "sshfs", "9p", "afs", "ceph", "glusterfs", "fuse.glusterfs", "fuse.rclone",
    "davfs" };

// Trees where the system mounts its own things; their mounts are not drives. /run/media is where
// desktops put removable media, so it stays.
constexpr std::array<std::string_view, 5> kSystemTrees { "/proc", "/sys", "/dev", "/run", "/snap" };

bool isOneOf(const QString &type, auto &list)
{
    const QByteArray bytes = type.toUtf8();
    return std::any_of(list.begin(), list.end(), [&](std::string_view item) {
        return bytes == QByteArrayView(item.data(), qsizetype(item.size()));
    });
}

bool isAtOrBelow(const QString &path, QStringView tree)
{
    return path == tree
        || (path.startsWith(tree) && path.size() > tree.size() && path[tree.size()] == u'/');
}

bool isInSystemTree(const QString &path)
{
    if (isAtOrBelow(path, u"/run/media"))
        return false;
    return std::any_of(kSystemTrees.begin(), kSystemTrees.end(), [&](std::string_view tree) {
        return isAtOrBelow(path, QString::fromLatin1(tree.data(), qsizetype(tree.size())));
    });
}

// Undoes the kernel's escapes in a mountinfo field: a backslash and three octal digits stand for
// one byte (space, tab, newline and the backslash itself are written that way).
QString unescapeField(QByteArrayView field)
{
    QByteArray bytes;
    bytes.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field[i];
        const auto isOctal = [](char d) { return d >= '0' && d <= '7'; };
        if (c == '\\' && i + 3 < field.size() && isOctal(field[i + 1]) && isOctal(field[i + 2])
            && isOctal(field[i + 3])) {
            const int value
                = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
            if (value <= 0xFF) {
                bytes.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        bytes.append(c);
    }
    return tunedeck::fileNameFromBytes(bytes);
}

std::optional<quint32> parseNumber(QByteArrayView digits)
{
    if (digits.isEmpty() || digits.size() > 9)
        return std::nullopt;
    quint32 value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + quint32(c - '0');
    }
    return value;
}

std::optional<MountEntry> parseLine(QByteArrayView line)
{
    QList<QByteArrayView> fields;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            if (i > start)
                fields.append(line.sliced(start, i - start));
            start = i + 1;
        }
    }
    // id, parent, major:minor, root, mount point, options, optional fields..., "-", type, source.
    if (fields.size() < 9)
        return std::nullopt;
    qsizetype separator = -1;
    for (qsizetype i = 6; i < fields.size(); ++i) {
        if (fields[i] == "-") {
            separator = i;
            break;
        }
    }
    if (separator < 0 || separator + 2 >= fields.size())
        return std::nullopt;

    const QByteArrayView device = fields[2];
    const qsizetype colon = device.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    const auto major = parseNumber(device.first(colon));
    const auto minor = parseNumber(device.sliced(colon + 1));
    if (!major || !minor)
        return std::nullopt;

    MountEntry entry;
    entry.mountPoint = unescapeField(fields[4]);
    entry.fsType = unescapeField(fields[separator + 1]);
    entry.source = unescapeField(fields[separator + 2]);
    entry.deviceMajor = *major;
    entry.deviceMinor = *minor;
    if (!entry.mountPoint.startsWith(u'/'))
        return std::nullopt;
    return entry;
}

std::optional<DriveKind> kindOf(const MountEntry &entry, const MountFacts &facts)
{
    const QString &type = entry.fsType;
    const bool isRoot = entry.mountPoint == u"/";
    if (!isRoot && (isOneOf(type, kPseudoTypes) || isInSystemTree(entry.mountPoint)))
        return std::nullopt;
    if (isOneOf(type, kNetworkTypes))
        return DriveKind::Network;
    // Overlay mounts other than the root are a container engine's layers.
    if (!isRoot && type == u"overlay")
        return std::nullopt;
    // A file system served by a program (FUSE) answers only while that program does: its mount
    // point is not looked at either, so one that stopped answering cannot stall the list.
    const bool served = type == u"fuse" || type == u"fuseblk" || type.startsWith(u"fuse.");
    if (!isRoot && !served && !facts.isFolder(entry.mountPoint))
        return std::nullopt;
    if (type == u"iso9660" || type == u"udf")
        return DriveKind::CdRom;
    if (type == u"tmpfs" || type == u"ramfs")
        return DriveKind::Ram;
    if (isAtOrBelow(entry.mountPoint, u"/media") || isAtOrBelow(entry.mountPoint, u"/run/media")
        || (entry.deviceMajor != 0
            && facts.isRemovableDevice(entry.deviceMajor, entry.deviceMinor)))
        return DriveKind::Removable;
    return DriveKind::Fixed;
}

QString rowText(const MountEntry &entry, DriveKind kind, const MountFacts &facts)
{
    switch (kind) {
    case DriveKind::Removable:
        // Never read for a label, so a drive without medium cannot stall the list.
        return entry.mountPoint;
    case DriveKind::Network:
        return entry.mountPoint + u' ' + entry.source.toLower();
    case DriveKind::Fixed:
    case DriveKind::CdRom:
    case DriveKind::Ram:
        break;
    }
    // The label in brackets only when there is one: "/", not "/ []".
    const QString label = facts.volumeLabel(entry).toLower();
    if (label.isEmpty())
        return entry.mountPoint;
    return entry.mountPoint + QStringLiteral(" [") + label + u']';
}

} // namespace

QList<MountEntry> parseMountInfo(QByteArrayView text)
{
    QList<MountEntry> entries;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        if (auto entry = parseLine(text.sliced(start, end - start)))
            entries.append(std::move(*entry));
        start = end + 1;
    }
    return entries;
}

QList<DriveInfo> drivesFromMounts(const QList<MountEntry> &mounts, const MountFacts &facts)
{
    // The last mount on a mount point is the one that shows.
    QHash<QString, qsizetype> lastIndex;
    for (qsizetype i = 0; i < mounts.size(); ++i)
        lastIndex.insert(mounts[i].mountPoint, i);

    QList<DriveInfo> drives;
    for (qsizetype i = 0; i < mounts.size(); ++i) {
        const MountEntry &entry = mounts[i];
        if (lastIndex.value(entry.mountPoint) != i)
            continue;
        if (const auto kind = kindOf(entry, facts))
            drives.append({ entry.mountPoint, *kind, rowText(entry, *kind, facts) });
    }
    std::sort(drives.begin(), drives.end(),
        [](const DriveInfo &a, const DriveInfo &b) { return a.root < b.root; });
    return drives;
}

QString driveRootOf(const QString &path, const QList<DriveInfo> &drives)
{
    QString best = QStringLiteral("/");
    for (const DriveInfo &drive : drives) {
        const bool holds = drive.root == u"/" || isAtOrBelow(path, drive.root);
        if (holds && drive.root.size() > best.size())
            best = drive.root;
    }
    return best;
}

} // namespace filctl95
