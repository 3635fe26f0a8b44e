#pragma once

#include "FolderReader.h"
#include "MountTable.h"

#include <QComboBox>
#include <QHash>
#include <QListWidget>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

namespace filctl95 {

// Where the browser widgets learn which drives exist and how to read a folder. The system's
// source reads the kernel's mount table; tests hand the widgets a source of their own.
class DriveSource {
public:
    virtual ~DriveSource() = default;
    // The drives present now, sorted by root. UI thread.
    virtual QList<DriveInfo> drives() const = 0;
    // The function the folder list reads folders with, on worker threads.
    virtual FolderReadFunction folderReader() const = 0;
};

// Drives from /proc/self/mountinfo, labels from /dev/disk/by-label, the removable flag from
// sysfs; folders read with readFolder().
std::shared_ptr<DriveSource> systemDriveSource();

} // namespace filctl95

// The drive box: one row per drive, with the picture of its kind and its text (see
// filctl95::DriveInfo), in the order of their roots. A drive is named by its root, the folder
// it is mounted on. The list is read when the box is made and again each time it drops down,
// so media mounted meanwhile show up. UI thread only.
class TDrive95ComboBox : public QComboBox {
    Q_OBJECT

public:
    // Starts on the drive that holds the process's current directory, without a change event.
    explicit TDrive95ComboBox(QWidget *parent = nullptr);
    // Lists the drives of `source` from now on, staying on the drive shown when it is still there.
    void setDriveSource(std::shared_ptr<filctl95::DriveSource> source);

    // The root of the drive shown; empty when there are no drives.
    QString Drive() const;
    // Shows the drive whose root is `root`, re-reading the list once when it is not there; a root
    // that still is not there changes nothing. Showing another drive emits driveChanged().
    void setDrive(const QString &root);
    // Re-reads the drives, staying on the drive shown without a change event; when it is gone,
    // shows the drive of the process's current directory and emits driveChanged().
    void refreshDrives();
    // Re-reads the drives before dropping the list down.
    void showPopup() override;

Q_SIGNALS:
    // Another drive is shown: picked by the user or set by setDrive(). Picking the row already
    // shown emits nothing.
    void driveChanged();

private:
    void fill(const QList<filctl95::DriveInfo> &drives, const QString &root);

    std::shared_ptr<filctl95::DriveSource> m_source;
    QList<filctl95::DriveInfo> m_drives;
    bool m_refilling = false;
};

// The folder list: rows from the drive's root down to the current folder, then the current
// folder's sub-folders (dot-folders left out) in case-insensitive alphabetical order, each with
// the picture of its role. Opening a row (double click, Enter) moves there. Each drive
// remembers its own current folder, so switching back to a drive returns to it. Moving to a
// folder reads it first on a worker thread, waiting at most readTimeout(), and makes it the
// process's current directory. UI thread only.
class TDirectory95ListBox : public QListWidget {
    Q_OBJECT

public:
    // Shows the process's current directory.
    explicit TDirectory95ListBox(QWidget *parent = nullptr);
    // Takes drives and the folder reader from `source` from now on (re-reads the current folder).
    void setDriveSource(std::shared_ptr<filctl95::DriveSource> source);

    // The current folder: absolute, without a trailing "/" except for "/" itself.
    QString Directory() const { return m_directory; }
    // Moves to `folder` (an absolute name). On success emits directoryChanged() when the folder
    // differs; on failure stays where it is, keeps the reason in lastError() and returns false.
    [[nodiscard]] bool setDirectory(const QString &folder);

    // The root of the drive that holds the current folder.
    QString Drive() const { return m_driveRoot; }
    // Moves to the folder last current on the drive at `root` (its root the first time, or when
    // that folder is gone). Setting the drive it is on does nothing and succeeds. Fails, staying
    // where it is, when the drive is no longer mounted, cannot be read or does not answer.
    [[nodiscard]] bool setDrive(const QString &root);

    // Why the last move failed, for the user.
    QString lastError() const { return m_lastError; }
    // How long a move waits for a drive to answer; 3 seconds unless set.
    std::chrono::milliseconds readTimeout() const { return m_readTimeout; }
    void setReadTimeout(std::chrono::milliseconds timeout) { m_readTimeout = timeout; }

Q_SIGNALS:
    // The current folder changed; the process's current directory is already there.
    void directoryChanged();
    // Opening a row failed; the list stays where it was.
    void folderNotOpened(const QString &folder, const QString &reason);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool moveTo(
        const QString &folder, const QString &driveRoot, const filctl95::FolderListing &listing);
    void openRow(int row);
    void rebuildRows();

    std::shared_ptr<filctl95::DriveSource> m_source;
    QString m_directory;
    QString m_driveRoot;
    QStringList m_subFolders; // Sorted for display.
    QHash<QString, QString> m_driveFolders; // Drive root -> its current folder.
    QString m_lastError;
    std::chrono::milliseconds m_readTimeout { 3000 };
};
