// The drive list on Linux: parsing the kernel's mount table and deciding which mounts are drives,
// of which kind, with which row text.
#include "MountTable.h"

#include <QSet>
#include <QTest>

using namespace filctl95;

namespace {

// Answers as a machine with the given removable disks, labels and non-folder mount points would,
// and notes every path it was asked about.
class FakeFacts final : public MountFacts {
public:
    QSet<quint32> removableMajors;
    QHash<QString, QString> labelsBySource;
    QSet<QString> files;
    mutable QStringList asked;

    bool isRemovableDevice(quint32 major, quint32) const override
    {
        return removableMajors.contains(major);
    }
    QString volumeLabel(const MountEntry &entry) const override
    {
        return labelsBySource.value(entry.source);
    }
    bool isFolder(const QString &path) const override
    {
        asked.append(path);
        return !files.contains(path);
    }
};

// A desktop with a container engine, removable media, network shares and the usual pseudo
// file systems, in the order a kernel lists them (children after parents).
const char kDesktopTable[]
    = "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
      "23 22 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
      "24 22 0:22 / /sys rw,nosuid shared:6 - sysfs sysfs rw\n"
      "25 24 0:23 / /sys/fs/cgroup rw shared:7 - cgroup2 cgroup2 rw\n"
      "26 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw\n"
      "27 26 0:24 / /dev/shm rw shared:3 - tmpfs tmpfs rw\n"
      "28 22 0:25 / /run rw shared:4 - tmpfs tmpfs rw\n"
      "29 28 0:26 / /run/user/1000 rw shared:8 - tmpfs tmpfs rw\n"
      "30 22 8:3 / /home rw,relatime shared:9 - ext4 /dev/sda3 rw\n"
      "31 22 8:1 / /boot/efi rw shared:10 - vfat /dev/sda1 rw\n"
      "32 22 0:27 / /tmp rw shared:11 - tmpfs tmpfs rw\n"
      "33 28 8:17 / /run/media/bob/DISK rw shared:12 - exfat /dev/sdb1 rw\n"
      "34 22 8:33 / /mnt/stick rw shared:13 - vfat /dev/sdc1 rw\n"
      "35 22 11:0 / /mnt/cd ro shared:14 - iso9660 /dev/sr0 ro\n"
      "36 22 0:40 / /mnt/nas rw shared:15 - nfs4 NAS:/Export/Music rw\n"
      "37 22 0:41 / /mnt/My\\040Share rw shared:16 - cifs //Server/Music rw\n"
      "38 30 0:42 / /home/bob/remote rw - fuse.sshfs Bob@Host:/srv rw\n"
      "39 22 0:43 / /var/lib/docker/overlay2/abc/merged rw - overlay overlay rw\n"
      "40 22 8:2 /etc/hostname /etc/hostname rw - ext4 /dev/sda2 rw\n"
      "41 22 7:0 / /snap/core/1 ro - squashfs /dev/loop0 ro\n"
      "42 22 8:49 / /media/bob/OLD rw - vfat /dev/sdd1 rw\n"
      "43 22 8:50 / /media/bob/OLD rw - ext4 /dev/sdd2 rw\n";

FakeFacts desktopFacts()
{
    FakeFacts facts;
    facts.labelsBySource = { { QStringLiteral("/dev/sda2"), QStringLiteral("System") },
        { QStringLiteral("/dev/sda3"), QStringLiteral("Data Disk") },
        { QStringLiteral("/dev/sr0"), QStringLiteral("AUDIO_CD") } };
    facts.files = { QStringLiteral("/etc/hostname") };
    return facts;
}

class StickFacts final : public MountFacts {
public:
    bool isRemovableDevice(quint32 major, quint32 minor) const override
    {
        return major == 8 && minor == 33;
    }
    QString volumeLabel(const MountEntry &) const override { return {}; }
    bool isFolder(const QString &) const override { return true; }
};

QStringList rootsOf(const QList<DriveInfo> &drives)
{
    QStringList roots;
    for (const DriveInfo &drive : drives)
        roots.append(drive.root);
    return roots;
}

DriveInfo driveAt(const QList<DriveInfo> &drives, const QString &root)
{
    for (const DriveInfo &drive : drives) {
        if (drive.root == root)
            return drive;
    }
    return {};
}

} // namespace

class MountTableTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Fields are split at blanks, the optional fields before " - " are skipped, and the kernel's
    // octal escapes in names are undone.
    void parsesFieldsAndUndoesEscapes()
    {
        const auto entries = parseMountInfo("37 22 0:41 / /mnt/My\\040Share\\134x rw shared:16 "
                                            "master:2 - cifs //Server/A\\011B rw\n");
        QCOMPARE(entries.size(), 1);
        QCOMPARE(entries[0].mountPoint, QStringLiteral("/mnt/My Share\\x"));
        QCOMPARE(entries[0].fsType, QStringLiteral("cifs"));
        QCOMPARE(entries[0].source, QStringLiteral("//Server/A\tB"));
        QCOMPARE(entries[0].deviceMajor, 0u);
        QCOMPARE(entries[0].deviceMinor, 41u);
    }

    // Lines without the separator, with too few fields, a bad device number or a relative mount
    // point are skipped; the good lines around them are still read, the last one without "\n".
    void skipsMalformedLines()
    {
        const auto entries = parseMountInfo("1 0 8:1 / / rw - ext4 /dev/a rw\n"
                                            "2 1 8:x / /b rw - ext4 /dev/b rw\n"
                                            "3 1 8:3 / /c rw ext4 /dev/c rw\n"
                                            "4 1 8:4 / /d rw -\n"
                                            "\n"
                                            "5 1 8:5 / relative rw - ext4 /dev/e rw\n"
                                            "6 1 8:6 / /f\\0 rw - ext4 /dev/f rw");
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries[0].mountPoint, QStringLiteral("/"));
        QCOMPARE(entries[1].mountPoint, QStringLiteral("/f\\0")); // An escape cut short stays.
    }

    // The root, the home disk, the boot partition, RAM, removable, optical and network mounts
    // are drives; kernel interfaces, the system's trees, container layers, snap images and file
    // bind mounts are not. Roots stand sorted, "/" first.
    void listsBrowsableMountsInRootOrder()
    {
        const auto drives = drivesFromMounts(parseMountInfo(kDesktopTable), desktopFacts());
        QCOMPARE(rootsOf(drives),
            QStringList(
                { "/", "/boot/efi", "/home", "/home/bob/remote", "/media/bob/OLD", "/mnt/My Share",
                    "/mnt/cd", "/mnt/nas", "/mnt/stick", "/run/media/bob/DISK", "/tmp" }));
    }

    // Each kind gets its text: local drives show the label in brackets, in lower case, and only
    // the root when they have no label ("/", not "/ []"); removable drives show no label;
    // network drives show the remote source in lower case.
    void givesEachKindItsText()
    {
        const auto drives = drivesFromMounts(parseMountInfo(kDesktopTable), desktopFacts());
        const auto expect = [&](const char *root, DriveKind kind, const char *text) {
            const DriveInfo drive = driveAt(drives, QString::fromUtf8(root));
            QCOMPARE(drive.kind, kind);
            QCOMPARE(drive.text, QString::fromUtf8(text));
        };
        expect("/", DriveKind::Fixed, "/ [system]");
        expect("/home", DriveKind::Fixed, "/home [data disk]");
        expect("/tmp", DriveKind::Ram, "/tmp");
        expect("/boot/efi", DriveKind::Fixed, "/boot/efi");
        expect("/mnt/cd", DriveKind::CdRom, "/mnt/cd [audio_cd]");
        expect("/mnt/nas", DriveKind::Network, "/mnt/nas nas:/export/music");
        expect("/mnt/My Share", DriveKind::Network, "/mnt/My Share //server/music");
        expect("/home/bob/remote", DriveKind::Network, "/home/bob/remote bob@host:/srv");
        expect("/run/media/bob/DISK", DriveKind::Removable, "/run/media/bob/DISK");
    }

    // A mount point mounted twice is one drive, the later mount (the one that shows).
    void countsAMountPointOnceWithItsTopMount()
    {
        const auto drives = drivesFromMounts(parseMountInfo(kDesktopTable), desktopFacts());
        QCOMPARE(rootsOf(drives).count(QStringLiteral("/media/bob/OLD")), 1);
        QCOMPARE(driveAt(drives, QStringLiteral("/media/bob/OLD")).kind, DriveKind::Removable);
    }

    // A disk the kernel flags removable is removable wherever it is mounted.
    void usesTheKernelsRemovableFlag()
    {
        const auto drives = drivesFromMounts(parseMountInfo(kDesktopTable), StickFacts());
        QCOMPARE(driveAt(drives, QStringLiteral("/mnt/stick")).kind, DriveKind::Removable);
        QCOMPARE(driveAt(drives, QStringLiteral("/home")).kind, DriveKind::Fixed);
        QCOMPARE(driveAt(drives, QStringLiteral("/")).text, QStringLiteral("/"));
    }

    // Network mount points are never looked at, so a dead server cannot stall the list; nor are
    // those of file systems a FUSE program serves (they are still drives).
    void neverTouchesNetworkMounts()
    {
        const FakeFacts facts = desktopFacts();
        const auto drives = drivesFromMounts(
            parseMountInfo(QByteArray(kDesktopTable)
                + "44 22 0:44 / /mnt/vault rw - fuse.gocryptfs /home/bob/.vault rw\n"
                  "45 22 8:65 / /mnt/win rw - fuseblk /dev/sde1 rw\n"
                  "46 22 0:46 / /mnt/plain rw - fuse served rw\n"),
            facts);
        for (const char *remote : { "/mnt/nas", "/mnt/My Share", "/home/bob/remote", "/mnt/vault",
                 "/mnt/win", "/mnt/plain" })
            QVERIFY2(!facts.asked.contains(QString::fromUtf8(remote)), remote);
        QVERIFY(facts.asked.contains(QStringLiteral("/home")));
        QCOMPARE(driveAt(drives, QStringLiteral("/mnt/vault")).kind, DriveKind::Fixed);
        QCOMPARE(driveAt(drives, QStringLiteral("/mnt/win")).kind, DriveKind::Fixed);
        QCOMPARE(driveAt(drives, QStringLiteral("/mnt/plain")).kind, DriveKind::Fixed);
    }

    // A container whose root is an overlay still has "/" as its drive.
    void keepsAnOverlayRoot()
    {
        const auto drives = drivesFromMounts(
            parseMountInfo(
                "1 0 0:50 / / rw - overlay overlay rw\n2 1 0:51 / /proc rw - proc proc rw\n"),
            desktopFacts());
        QCOMPARE(rootsOf(drives), QStringList({ "/" }));
    }

    // The drive of a path is the deepest root at or above it; a root is not a prefix of a
    // sibling folder that merely starts with the same letters.
    void findsTheDriveOfAPath()
    {
        const auto drives = drivesFromMounts(parseMountInfo(kDesktopTable), desktopFacts());
        QCOMPARE(driveRootOf(QStringLiteral("/home/bob/music"), drives), QStringLiteral("/home"));
        QCOMPARE(driveRootOf(QStringLiteral("/home"), drives), QStringLiteral("/home"));
        QCOMPARE(driveRootOf(QStringLiteral("/home2/x"), drives), QStringLiteral("/"));
        QCOMPARE(driveRootOf(QStringLiteral("/home/bob/remote/a"), drives),
            QStringLiteral("/home/bob/remote"));
        QCOMPARE(driveRootOf(QStringLiteral("/proc/1"), drives), QStringLiteral("/"));
    }
};

QTEST_GUILESS_MAIN(MountTableTest)
#include "MountTableTest.moc"
