#include "FilCtl95.h"

#include "FilCtl95Pictures.h"
#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QKeyEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace filctl95;

namespace {

// Item data: the row's picture stands so many pixels from its left edge.
constexpr int kIndentRole = Qt::UserRole + 1;
// Item data of folder rows: the folder's full name.
constexpr int kPathRole = Qt::UserRole + 2;
// Item data of drive rows: the drive's root.
constexpr int kRootRole = Qt::UserRole + 3;

// Gap between a row's picture and its text, in pixels.
constexpr int kTextGap = 4;
// Where a drive row's picture stands.
constexpr int kDriveIndent = 2;

// Undoes udev's \xHH escapes in /dev/disk/by-label names.
QString unescapeLabel(const QString &name)
{
    QByteArray bytes = tunedeck::fileNameToBytes(name);
    QByteArray out;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                out.append(static_cast<char>(value));
                i += 3;
                continue;
            }
        }
        out.append(bytes[i]);
    }
    return tunedeck::fileNameFromBytes(out);
}

class SystemFacts final : public MountFacts {
public:
    SystemFacts()
    {
        const QDir byLabel(QStringLiteral("/dev/disk/by-label"));
        for (const QString &name :
            byLabel.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            struct stat info { };
            if (::stat(QFile::encodeName(byLabel.filePath(name)).constData(), &info) == 0)
                m_labels.insert(quint64(info.st_rdev), unescapeLabel(name));
        }
    }

    bool isRemovableDevice(quint32 major, quint32 minor) const override
    {
        const QString device
            = QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor))
                  .canonicalFilePath();
        if (device.isEmpty())
            return false;
        // A partition has no flag of its own; its disk is the folder above it.
        const QString disk = QFileInfo::exists(device + QStringLiteral("/partition"))
            ? QFileInfo(device).path()
            : device;
        QFile flag(disk + QStringLiteral("/removable"));
        return flag.open(QIODevice::ReadOnly) && flag.read(1) == "1";
    }

    QString volumeLabel(const MountEntry &entry) const override
    {
        quint64 device = makedev(entry.deviceMajor, entry.deviceMinor);
        // Some file systems (btrfs) report an anonymous device; the source names the real one.
        struct stat info { };
        if (entry.deviceMajor == 0 && entry.source.startsWith(u"/dev/")
            && ::stat(tunedeck::fileNameToBytes(entry.source).constData(), &info) == 0)
            device = info.st_rdev;
        return m_labels.value(device);
    }

    bool isFolder(const QString &path) const override
    {
        struct stat info { };
        return ::stat(tunedeck::fileNameToBytes(path).constData(), &info) == 0
            && S_ISDIR(info.st_mode);
    }

private:
    QHash<quint64, QString> m_labels;
};

class SystemDriveSource final : public DriveSource {
public:
    QList<DriveInfo> drives() const override
    {
        QFile table(QStringLiteral("/proc/self/mountinfo"));
        if (!table.open(QIODevice::ReadOnly))
            return { { QStringLiteral("/"), DriveKind::Fixed, QStringLiteral("/ []") } };
        return drivesFromMounts(parseMountInfo(table.readAll()), SystemFacts());
    }

    FolderReadFunction folderReader() const override
    {
        return [](const QString &folder) { return readFolder(folder); };
    }
};

QString currentDirectory()
{
    QByteArray buffer(4096, Qt::Uninitialized);
    while (::getcwd(buffer.data(), std::size_t(buffer.size())) == nullptr) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return tunedeck::fileNameFromBytes(
        QByteArrayView(buffer.constData(), qsizetype(std::strlen(buffer.constData()))));
}

// Joins a folder and a name below it.
QString childOf(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString cleanFolder(const QString &folder)
{
    QString clean = QDir::cleanPath(folder);
    return clean.isEmpty() ? QStringLiteral("/") : clean;
}

// Draws a row as the browser widgets show it: the row's picture at its indent, vertically
// centred, and the text 4 pixels to its right, on one line.
class PictureRowDelegate final : public QStyledItemDelegate {
public:
    PictureRowDelegate(int minimumRowHeight, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_minimumRowHeight(minimumRowHeight)
    { }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override
    {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        const QString text = background.text;
        background.text.clear();
        background.icon = QIcon();
        background.features &= ~QStyleOptionViewItem::HasDecoration;
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : nullptr;
        if (style)
            style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const QRect row = option.rect;
        const int pictureLeft = row.left() + index.data(kIndentRole).toInt();
        const QPixmap picture = pictureOf(index);
        painter->drawPixmap(pictureLeft, row.top() + (row.height() - kPictureSize) / 2, picture);

        const QRect textRect(pictureLeft + kPictureSize + kTextGap, row.top(),
            row.right() - (pictureLeft + kPictureSize + kTextGap), row.height());
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->setPen(
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->setFont(option.font);
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
            option.fontMetrics.elidedText(text, Qt::ElideRight, textRect.width()));
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int textWidth = option.fontMetrics.horizontalAdvance(index.data().toString());
        return { index.data(kIndentRole).toInt() + kPictureSize + kTextGap + textWidth + 2,
            std::max(option.fontMetrics.height(), m_minimumRowHeight) };
    }

private:
    static QPixmap pictureOf(const QModelIndex &index)
    {
        const QVariant decoration = index.data(Qt::DecorationRole);
        if (decoration.canConvert<QPixmap>() && decoration.userType() == QMetaType::QPixmap)
            return decoration.value<QPixmap>();
        return decoration.value<QIcon>().pixmap(kPictureSize, kPictureSize);
    }

    int m_minimumRowHeight;
};

Picture pictureOf(DriveKind kind)
{
    switch (kind) {
    case DriveKind::Removable:
        return Picture::Floppy;
    case DriveKind::Fixed:
        return Picture::Fixed;
    case DriveKind::Network:
        return Picture::Network;
    case DriveKind::CdRom:
        return Picture::CdRom;
    case DriveKind::Ram:
        return Picture::Ram;
    }
    return Picture::Fixed;
}

} // namespace

std::shared_ptr<DriveSource> filctl95::systemDriveSource()
{
    return std::make_shared<SystemDriveSource>();
}

// ---- TDrive95ComboBox

TDrive95ComboBox::TDrive95ComboBox(QWidget *parent)
    : QComboBox(parent)
    , m_source(systemDriveSource())
{
    setAccessibleName(QStringLiteral("Drive"));
    setIconSize({ kPictureSize, kPictureSize });
    // Row height: the text height or the pictures' 16 pixels, whichever is larger.
    setItemDelegate(new PictureRowDelegate(kPictureSize, this));
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (!m_refilling)
            Q_EMIT driveChanged();
    });
    const QList<DriveInfo> drives = m_source->drives();
    fill(drives, driveRootOf(currentDirectory(), drives));
}

void TDrive95ComboBox::setDriveSource(std::shared_ptr<DriveSource> source)
{
    m_source = std::move(source);
    refreshDrives();
}

QString TDrive95ComboBox::Drive() const
{
    return currentData(kRootRole).toString();
}

void TDrive95ComboBox::setDrive(const QString &root)
{
    int row = findData(root, kRootRole);
    if (row < 0) {
        refreshDrives();
        row = findData(root, kRootRole);
    }
    if (row >= 0)
        setCurrentIndex(row); // Emits driveChanged() when the row differs.
}

void TDrive95ComboBox::refreshDrives()
{
    const QList<DriveInfo> drives = m_source->drives();
    if (drives == m_drives)
        return;
    const QString shown = Drive();
    const bool stillThere = std::any_of(
        drives.begin(), drives.end(), [&](const DriveInfo &drive) { return drive.root == shown; });
    fill(drives, stillThere ? shown : driveRootOf(currentDirectory(), drives));
    // The drive shown went away: the folder list, still on it, follows the box to another.
    if (!stillThere && !shown.isEmpty() && !Drive().isEmpty())
        Q_EMIT driveChanged();
}

void TDrive95ComboBox::showPopup()
{
    refreshDrives();
    QComboBox::showPopup();
}

void TDrive95ComboBox::fill(const QList<DriveInfo> &drives, const QString &root)
{
    const QScopedValueRollback guard(m_refilling, true);
    m_drives = drives;
    clear();
    for (const DriveInfo &drive : drives) {
        addItem(QIcon(picturePixmap(pictureOf(drive.kind))), drive.text);
        setItemData(count() - 1, drive.root, kRootRole);
        setItemData(count() - 1, kDriveIndent, kIndentRole);
        setItemData(count() - 1, drive.text, Qt::AccessibleTextRole);
    }
    setCurrentIndex(findData(root, kRootRole));
}

// ---- TDirectory95ListBox

TDirectory95ListBox::TDirectory95ListBox(QWidget *parent)
    : QListWidget(parent)
    , m_source(systemDriveSource())
{
    setAccessibleName(QStringLiteral("Folders"));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Row height: the open-folder picture's 16 pixels plus one, or the text height if larger.
    setItemDelegate(new PictureRowDelegate(kPictureSize + 1, this));
    connect(this, &QListWidget::itemDoubleClicked, this,
        [this](QListWidgetItem *item) { openRow(row(item)); });

    QString start = currentDirectory();
    if (start.isEmpty()) {
        // The current directory was deleted under us: start at the top.
        start = QStringLiteral("/");
        if (::chdir("/") != 0)
            start.clear();
    }
    m_directory = cleanFolder(start);
    m_driveRoot = driveRootOf(m_directory, m_source->drives());
    m_driveFolders.insert(m_driveRoot, m_directory);
    const FolderListing listing
        = readFolderWithin(m_source->folderReader(), m_directory, m_readTimeout);
    m_subFolders = listing.subFolders;
    sortByCollation(m_subFolders, Qt::CaseInsensitive);
    rebuildRows();
}

void TDirectory95ListBox::setDriveSource(std::shared_ptr<DriveSource> source)
{
    m_source = std::move(source);
    m_driveRoot = driveRootOf(m_directory, m_source->drives());
    m_driveFolders.clear();
    m_driveFolders.insert(m_driveRoot, m_directory);
    const FolderListing listing
        = readFolderWithin(m_source->folderReader(), m_directory, m_readTimeout);
    m_subFolders = listing.subFolders;
    sortByCollation(m_subFolders, Qt::CaseInsensitive);
    rebuildRows();
}

bool TDirectory95ListBox::setDirectory(const QString &folder)
{
    const QString target = cleanFolder(QDir(m_directory).absoluteFilePath(folder));
    const FolderListing listing = readFolderWithin(m_source->folderReader(), target, m_readTimeout);
    // A folder that cannot be listed may still be one the user may pass through (leave to enter
    // it, not to read it): it is entered with no sub-folders shown, if the system lets the
    // program in.
    if (!listing.ok() && listing.outcome != FolderListing::Outcome::Unreadable) {
        m_lastError = listing.error;
        return false;
    }
    // A drive mounted inside the list's own (a stick under /media) is entered as a folder: the
    // folders above it stay on the list, as the way back up. Only the drive box changes drives.
    const QList<DriveInfo> drives = m_source->drives();
    const bool onTheSameDrive
        = (m_driveRoot == u"/" || target == m_driveRoot || target.startsWith(m_driveRoot + u'/'))
        && std::any_of(drives.begin(), drives.end(),
            [this](const DriveInfo &drive) { return drive.root == m_driveRoot; });
    return moveTo(target, onTheSameDrive ? m_driveRoot : driveRootOf(target, drives), listing);
}

bool TDirectory95ListBox::setDrive(const QString &root)
{
    if (root == m_driveRoot)
        return true;
    const QList<DriveInfo> drives = m_source->drives();
    if (std::none_of(drives.begin(), drives.end(),
            [&](const DriveInfo &drive) { return drive.root == root; })) {
        m_lastError = QStringLiteral("%1 is not mounted").arg(root);
        return false;
    }
    const FolderReadFunction read = m_source->folderReader();
    QString target = m_driveFolders.value(root, root);
    FolderListing listing = readFolderWithin(read, target, m_readTimeout);
    if (!listing.ok() && target != root) {
        // The folder last current there is gone, or cannot be read or does not answer any more;
        // the drive's root stands in, as after a restart, rather than the drive being lost.
        target = root;
        listing = readFolderWithin(read, target, m_readTimeout);
    }
    if (!listing.ok()) {
        m_lastError = listing.error;
        return false;
    }
    return moveTo(target, root, listing);
}

bool TDirectory95ListBox::moveTo(
    const QString &folder, const QString &driveRoot, const FolderListing &listing)
{
    if (::chdir(tunedeck::fileNameToBytes(folder).constData()) != 0) {
        m_lastError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_lastError.clear();
    const bool changed = folder != m_directory;
    m_directory = folder;
    m_driveRoot = driveRoot;
    m_driveFolders.insert(m_driveRoot, m_directory);
    m_subFolders = listing.subFolders;
    sortByCollation(m_subFolders, Qt::CaseInsensitive);
    rebuildRows();
    if (changed)
        Q_EMIT directoryChanged();
    return true;
}

void TDirectory95ListBox::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        openRow(currentRow());
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectory95ListBox::openRow(int row)
{
    const QListWidgetItem *entry = item(row);
    if (!entry)
        return;
    const QString folder = entry->data(kPathRole).toString();
    if (folder == m_directory)
        return;
    if (!setDirectory(folder)) {
        // Show the current folder as selected again, as before the attempt.
        rebuildRows();
        Q_EMIT folderNotOpened(folder, m_lastError);
    }
}

void TDirectory95ListBox::rebuildRows()
{
    const QPixmap open = picturePixmap(Picture::OpenFolder);
    const QPixmap current = picturePixmap(Picture::CurrentFolder);
    const QPixmap closed = picturePixmap(Picture::ClosedFolder);

    QStringList pathNames;
    const QString below = m_directory.mid(m_driveRoot.size());
    pathNames = below.split(u'/', Qt::SkipEmptyParts);

    clear();
    // Each row's picture and level, which the eye takes from the picture and the indent, are said
    // to a screen reader too ("Open folder, level 2"); the root is level 1.
    const auto addRow = [this](const QString &text, const QString &path, int indent,
                            const QPixmap &picture, const QString &kind, qsizetype level) {
        auto *row = new QListWidgetItem(text, this);
        row->setData(kPathRole, path);
        row->setData(kIndentRole, indent);
        row->setData(Qt::DecorationRole, picture);
        row->setData(Qt::AccessibleDescriptionRole, kind.arg(level));
        row->setToolTip(path);
        return row;
    };
    const QString openKind = tr("Open folder, level %1");
    const QString currentKind = tr("Current folder, level %1");

    // Path rows: the root, then each folder down to the current one; row i stands 4·i+2 pixels in.
    QString path = m_driveRoot;
    QListWidgetItem *currentRowItem = pathNames.isEmpty()
        ? addRow(m_driveRoot, path, 2, current, currentKind, 1)
        : addRow(m_driveRoot, path, 2, open, openKind, 1);
    for (qsizetype i = 0; i < pathNames.size(); ++i) {
        path = childOf(path, pathNames[i]);
        const bool isCurrent = i == pathNames.size() - 1;
        QListWidgetItem *row = addRow(pathNames[i], path, int(4 * (i + 1) + 2),
            isCurrent ? current : open, isCurrent ? currentKind : openKind, i + 2);
        if (isCurrent)
            currentRowItem = row;
    }
    // Sub-folders stand 4·d + 6 pixels in, d the current folder's depth with the root counted
    // as depth 1 (its name has a separator too): at the root as far in as one folder below.
    const int subIndent = int(4 * std::max<qsizetype>(pathNames.size(), 1) + 6);
    const QString closedKind = tr("Folder, level %1");
    for (const QString &name : std::as_const(m_subFolders))
        addRow(
            name, childOf(m_directory, name), subIndent, closed, closedKind, pathNames.size() + 2);

    setCurrentItem(currentRowItem);
    scrollToItem(currentRowItem);
}
