// The main window's file browser and play-list editing: filling the file view, the four editing
// buttons, dragging from the file view onto the play list, and the drive and folder changes.
// Everything here runs on the UI thread. The play list is two parallel sequences, Lista's
// display names and PlayListPaths' full names; every operation changes both at the same indices
// before it returns, so they always have the same length when another handler runs.
#include "TunedeckFormUnit.h"

#include "DesktopFiles.h"
#include "FilCtl95.h"
#include "FilCtl95Pictures.h"
#include "FileNames.h"
#include "FileView.h"
#include "MessageBoxes.h"
#include "Player.h"
#include "SongFiles.h"
#include "Texts.h"
#include "TunedeckApplication.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QItemSelection>
#include <QListWidget>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>

#include <algorithm>
#include <vector>

namespace texts = tunedeck::texts;

namespace {

// Distance in pixels, along either axis, the pointer must travel with the button down before a
// press on the file view turns into a drag.
constexpr int kDragThresholdPx = 5;

// What a drag from the file view carries; the file view itself travels as the drag's source.
const QString kFileViewDragFormat = QStringLiteral("application/x-tunedeck-file-view");

// Whether a drag's source is the file view: a list view named exactly "TdfileV".
bool isFileView(const QObject *source)
{
    return qobject_cast<const QAbstractItemView *>(source)
        && source->objectName() == QLatin1String("TdfileV");
}

// Watches the file view's and the play list's viewports: turns a press and a 5-pixel move on
// the file view into a drag that carries the file view, and hands drags over either view to the
// window's drag handlers. Owned by the window; UI thread only.
class BrowserDragFilter final : public QObject {
public:
    // `fileViewport` is only compared with, never used: while the window is being destroyed its
    // views (and this filter's events from them) outlive the window's own members.
    BrowserDragFilter(TTunedeckform *form, const QObject *fileViewport)
        : QObject(form)
        , m_form(form)
        , m_fileViewport(fileViewport)
    { }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const bool onFileView = watched == m_fileViewport;
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            if (onFileView)
                armDrag(static_cast<QMouseEvent *>(event));
            return false;
        case QEvent::MouseMove:
            return onFileView && maybeStartDrag(static_cast<QMouseEvent *>(event));
        case QEvent::MouseButtonRelease:
            m_armed = false;
            return false;
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto *drag = static_cast<QDragMoveEvent *>(event);
            if (!drag->source()) {
                // From another program: local files for the play list, nothing for the view.
                if (!onFileView && tunedeck::desktop::acceptsDroppedUrls(drag->mimeData())) {
                    drag->setDropAction(Qt::CopyAction);
                    drag->accept();
                } else {
                    drag->ignore();
                }
                return true;
            }
            bool accept = false;
            if (onFileView)
                m_form->TdfileVDragOver(drag->source(), drag->position().toPoint(), accept);
            else
                m_form->ListaDragOver(drag->source(), drag->position().toPoint(), accept);
            accept ? drag->acceptProposedAction() : drag->ignore();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            if (!drop->source()) {
                if (onFileView || !tunedeck::desktop::acceptsDroppedUrls(drop->mimeData())) {
                    drop->ignore();
                    return true;
                }
                tunedeck::desktop::dropFiles(*m_form->player(), drop->mimeData());
                drop->setDropAction(Qt::CopyAction);
                drop->accept();
                return true;
            }
            if (onFileView)
                m_form->TdfileVDragDrop(drop->source(), drop->position().toPoint());
            else
                m_form->ListaDragDrop(drop->source(), drop->position().toPoint());
            drop->acceptProposedAction();
            return true;
        }
        default:
            return false;
        }
    }

private:
    void armDrag(const QMouseEvent *press)
    {
        const QPoint at = press->position().toPoint();
        m_armed = press->button() == Qt::LeftButton
            && !(press->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
            && m_form->TdfileV->hasRowAt(at);
        m_pressedAt = at;
    }

    bool maybeStartDrag(const QMouseEvent *move)
    {
        if (!m_armed || !(move->buttons() & Qt::LeftButton))
            return false;
        const QPoint travelled = move->position().toPoint() - m_pressedAt;
        if (std::abs(travelled.x()) < kDragThresholdPx
            && std::abs(travelled.y()) < kDragThresholdPx)
            return true; // Not yet a drag; keep the view from extending its selection meanwhile.
        m_armed = false;
        auto *drag = new QDrag(m_form->TdfileV);
        auto *data = new QMimeData;
        data->setData(kFileViewDragFormat, m_form->TdfileV->objectName().toUtf8());
        drag->setMimeData(data);
        drag->setPixmap(filctl95::picturePixmap(filctl95::Picture::AudioFile));
        drag->exec(Qt::CopyAction);
        return true;
    }

    TTunedeckform *m_form;
    const QObject *m_fileViewport;
    bool m_armed = false;
    QPoint m_pressedAt;
};

// Appends the folder list's folder joined with each of the file view's captions of `rows` to
// the play list (one "/" between them; the root "/" already ends with one).
void appendToPlayList(TTunedeckform &form, const std::vector<int> &rows)
{
    if (rows.empty())
        return;
    const QString folder = form.TdDirectory->Directory();
    const QByteArray prefix
        = tunedeck::fileNameToBytes(folder.endsWith(u'/') ? folder : folder + u'/');
    const QStringList &shown = form.TdfileV->captions();
    tunedeck::PathList entries;
    entries.reserve(qsizetype(rows.size()));
    for (const int row : rows)
        entries.appendJoined(prefix, shown.at(row));
    form.appendEntries(entries);
}

// Which of the view's first `count` rows are selected, read from the selection's ranges. Linear
// in the rows and the ranges; asking the selection model row by row (as selectedRows() does)
// costs the number of ranges for every row, which is quadratic for a scattered selection.
std::vector<bool> selectedRows(const QAbstractItemView *view, int count)
{
    std::vector<bool> selected(std::size_t(std::max(count, 0)), false);
    const QItemSelection ranges = view->selectionModel()->selection();
    for (const QItemSelectionRange &range : ranges) {
        if (range.parent().isValid())
            continue;
        for (int row = std::max(range.top(), 0); row <= range.bottom() && row < count; ++row)
            selected[std::size_t(row)] = true;
    }
    return selected;
}

} // namespace

bool TTunedeckform::IsAudioFile(const QString &fileName)
{
    return tunedeck::songfiles::hasSongExtension(tunedeck::fileNameToBytes(fileName));
}

void TTunedeckform::connectBrowser()
{
    connect(TdDrive, &TDrive95ComboBox::driveChanged, this, &TTunedeckform::TdDriveChange);
    connect(TdDirectory, &TDirectory95ListBox::directoryChanged, this,
        &TTunedeckform::TdDirectoryChange);
    connect(TdDirectory, &TDirectory95ListBox::folderNotOpened, this,
        [](const QString &, const QString &reason) { tunedeck::showGeneralError(reason); });
    connect(AddOneButt, &QPushButton::clicked, this, &TTunedeckform::AddOneButtClick);
    connect(AddAllButt, &QPushButton::clicked, this, &TTunedeckform::AddAllButtClick);
    connect(RemoveOneButt, &QPushButton::clicked, this, &TTunedeckform::RemoveOneButtClick);
    connect(RemoveAllButt, &QPushButton::clicked, this, &TTunedeckform::RemoveAllButtClick);
    connect(TdfileV, &TFileView::rowDoubleClicked, this, &TTunedeckform::AddOneButtClick);
    // Delete on the play list removes its selected entries, as Remove does.
    auto *removeKey
        = new QShortcut(QKeySequence::Delete, Lista, nullptr, nullptr, Qt::WidgetShortcut);
    connect(removeKey, &QShortcut::activated, this, &TTunedeckform::RemoveOneButtClick);

    // The file view is the window's only drag source, with a drag of its own making only: the
    // view's own drag would start from a press with Shift or Ctrl too, so it stays off, and a
    // move with the button down after such a press extends the selection instead.
    TdfileV->setDragDropMode(QAbstractItemView::DropOnly);
    Lista->setDragEnabled(false);
    Lista->setAcceptDrops(true);
    TdfileV->setAcceptDrops(true);
    auto *filter = new BrowserDragFilter(this, TdfileV->viewport());
    TdfileV->viewport()->installEventFilter(filter);
    Lista->viewport()->installEventFilter(filter);
}

void TTunedeckform::FillFileView()
{
    // The process's current directory is where the folder list last moved; it is read within
    // the folder list's own wait.
    QStringList sorted = tunedeck::songfiles::currentSongNames(TdDirectory->readTimeout());
    TdfileV->setCaptions(std::move(sorted), IconeAudio.value(0));
}

void TTunedeckform::AddOneButtClick()
{
    const std::vector<bool> selected = selectedRows(TdfileV, TdfileV->count());
    std::vector<int> rows;
    for (int row = 0; row < int(selected.size()); ++row) {
        if (selected[std::size_t(row)])
            rows.push_back(row);
    }
    appendToPlayList(*this, rows);
}

void TTunedeckform::AddAllButtClick()
{
    std::vector<int> rows(std::size_t(TdfileV->count()));
    for (std::size_t row = 0; row < rows.size(); ++row)
        rows[row] = int(row);
    appendToPlayList(*this, rows);
}

void TTunedeckform::RemoveOneButtClick()
{
    // The list is rebuilt from the entries that stay, so removing costs the same however
    // scattered the selection is; clearing drops the selection with it.
    const int count = Lista->count();
    const std::vector<bool> doomed = selectedRows(Lista, count);
    if (std::find(doomed.begin(), doomed.end(), true) == doomed.end())
        return;
    QStringList keptNames;
    keptNames.reserve(count);
    for (int row = 0; row < count; ++row) {
        if (!doomed[std::size_t(row)])
            keptNames.append(Lista->item(row)->text());
    }
    const int scrolledTo = Lista->verticalScrollBar()->value();
    Lista->clear();
    Lista->addItems(keptNames);
    PlayListPaths.removeFlagged(doomed);
    Lista->verticalScrollBar()->setValue(scrolledTo);
}

void TTunedeckform::RemoveAllButtClick()
{
    Lista->clear();
    PlayListPaths.clear();
}

void TTunedeckform::ListaDragOver(QObject *source, QPoint, bool &accept)
{
    if (qobject_cast<QAbstractItemView *>(source))
        accept = isFileView(source);
}

void TTunedeckform::ListaDragDrop(QObject *source, QPoint)
{
    // The drop point does not matter: the file view's whole selection joins the end.
    if (qobject_cast<QAbstractItemView *>(source))
        AddOneButtClick();
}

void TTunedeckform::TdfileVDragOver(QObject *source, QPoint, bool &accept)
{
    if (qobject_cast<QAbstractItemView *>(source))
        accept = isFileView(source);
}

void TTunedeckform::TdfileVDragDrop(QObject *, QPoint)
{
    // Dropping back on the file view ends the drag; nothing else happens.
}

void TTunedeckform::TdDriveChange()
{
    for (;;) {
        const QString previous = TdDirectory->Drive();
        if (TdDirectory->setDrive(TdDrive->Drive()))
            return;
        const auto choice = tunedeck::showMessage(tunedeck::MessageKind::Error,
            texts::kDriveNotReady, tunedeck::MessageButtons::AbortRetry);
        if (choice == tunedeck::MessageResult::Retry)
            continue;
        // Back to the folder list's drive; the change event this raises finds the folder list
        // already there and ends at once.
        TdDrive->setDrive(previous);
        return;
    }
}

void TTunedeckform::TdDirectoryChange()
{
    FillFileView();
}
