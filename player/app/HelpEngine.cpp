#include "HelpEngine.h"

#include "MessageBoxes.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScreen>
#include <QTextBrowser>
#include <QUrl>

#include <algorithm>

const QString HelpEngine::kHelpCaption = QStringLiteral("Tunedeck Help");

namespace {

const QString kWindowName = QStringLiteral("HelpWindow");

// Help documents are small; anything beyond this is not one of ours.
constexpr qint64 kMaxHelpFileBytes = 4 * 1024 * 1024;

QString anchorFor(int context)
{
    return QStringLiteral("topic%1").arg(context);
}

// Reads the whole document, or reports why it cannot and returns a null string.
QString readHelpFile(const QString &helpFile)
{
    QFile file(helpFile);
    if (!QFileInfo(helpFile).isFile() || !file.open(QIODevice::ReadOnly)) {
        tunedeck::showCaptionedMessage(tunedeck::MessageKind::Error, HelpEngine::kHelpCaption,
            QStringLiteral("Cannot find or open the help file") + QStringLiteral("\r\n")
                + helpFile);
        return {};
    }
    if (file.size() == 0 || file.size() > kMaxHelpFileBytes) {
        tunedeck::showCaptionedMessage(tunedeck::MessageKind::Error, HelpEngine::kHelpCaption,
            QStringLiteral("The help file is not a Tunedeck help file") + QStringLiteral("\r\n")
                + helpFile);
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

// The help window: what a help document names (pictures, other pages) is read only from files
// of a help document's size, so a name of a pipe or of /dev/zero cannot hold the window.
class HelpBrowser : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;

    QVariant loadResource(int type, const QUrl &name) override
    {
        const QUrl url = source().resolved(name);
        if (url.isLocalFile()) {
            const QFileInfo file(url.toLocalFile());
            // Empty rather than null: the document would read a null one itself.
            if (!file.isFile() || file.size() > kMaxHelpFileBytes)
                return QByteArray("");
        }
        return QTextBrowser::loadResource(type, name);
    }

protected:
    // Escape closes the window, as it closes a dialog.
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            close();
            return;
        }
        QTextBrowser::keyPressEvent(event);
    }
};

QTextBrowser *openWindow(QWidget *owner, const QString &helpFile)
{
    QTextBrowser *browser = HelpEngine::window(owner);
    if (!browser) {
        browser = new HelpBrowser(owner);
        browser->setObjectName(kWindowName);
        browser->setWindowFlag(Qt::Window);
        browser->setWindowTitle(HelpEngine::kHelpCaption);
        browser->setAccessibleName(QStringLiteral("Help"));
        browser->setOpenExternalLinks(true);
        browser->resize(520, 440);
        // Beside the owner's window, fully on its screen, so neither hides the other.
        QWidget *top = owner ? owner->window() : nullptr;
        if (top && top->screen()) {
            QMargins frame(top->geometry().left() - top->frameGeometry().left(),
                top->geometry().top() - top->frameGeometry().top(),
                top->frameGeometry().right() - top->geometry().right(),
                top->frameGeometry().bottom() - top->geometry().bottom());
            // A frameless owner (its title bar is painted) says nothing of the window
            // manager's frame the help window will get; allow for a usual one.
            if (frame.isNull())
                frame = QMargins(4, 28, 4, 4);
            browser->setGeometry(HelpEngine::placeBeside(
                top->frameGeometry(), browser->size(), frame, top->screen()->availableGeometry()));
        }
    }
    // Shown as the page of its own name, so that relative links and pictures resolve beside it
    // (and the charset it declares is read).
    browser->setSource(
        QUrl::fromLocalFile(QFileInfo(helpFile).absoluteFilePath()), QTextDocument::HtmlResource);
    browser->show();
    browser->raise();
    browser->activateWindow();
    // The text has the focus, so a screen reader reads it and the keys move through it.
    browser->setFocus(Qt::ActiveWindowFocusReason);
    return browser;
}

} // namespace

QRect HelpEngine::placeBeside(QRect ownerFrame, QSize size, QMargins frame, QRect screen)
{
    constexpr int kGap = 8;
    const QSize outer = size.grownBy(frame).boundedTo(screen.size());
    const int top
        = std::clamp(ownerFrame.top(), screen.top(), screen.bottom() + 1 - outer.height());
    int left = ownerFrame.right() + 1 + kGap;
    if (left + outer.width() > screen.right() + 1) {
        left = ownerFrame.left() - kGap - outer.width();
        if (left < screen.left()) // No room on either side: on the screen, over the owner.
            left = std::clamp(ownerFrame.left(), screen.left(), screen.right() + 1 - outer.width());
    }
    return QRect(QPoint(left, top), outer).marginsRemoved(frame);
}

QTextBrowser *HelpEngine::window(QWidget *owner)
{
    if (!owner)
        return nullptr;
    return owner->findChild<QTextBrowser *>(kWindowName, Qt::FindDirectChildrenOnly);
}

bool HelpEngine::showContents(QWidget *owner, const QString &helpFile)
{
    const QString html = readHelpFile(helpFile);
    if (html.isNull())
        return false;
    QTextBrowser *browser = openWindow(owner, helpFile);
    browser->scrollToAnchor(anchorFor(1));
    return true;
}

bool HelpEngine::showTopic(QWidget *owner, const QString &helpFile, int context)
{
    const QString html = readHelpFile(helpFile);
    if (html.isNull())
        return false;
    const QString anchor = anchorFor(context);
    if (!html.contains(QStringLiteral("name=\"%1\"").arg(anchor))) {
        tunedeck::showCaptionedMessage(tunedeck::MessageKind::Error, kHelpCaption,
            QStringLiteral("Help topic does not exist."));
        return false;
    }
    QTextBrowser *browser = openWindow(owner, helpFile);
    browser->scrollToAnchor(anchor);
    return true;
}
