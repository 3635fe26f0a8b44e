#include "HelpEngine.h"

#include "MessageBoxes.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>

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
    if (file.size() > kMaxHelpFileBytes) {
        tunedeck::showCaptionedMessage(tunedeck::MessageKind::Error, HelpEngine::kHelpCaption,
            QStringLiteral("The help file is not a Tunedeck help file") + QStringLiteral("\r\n")
                + helpFile);
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

QTextBrowser *openWindow(QWidget *owner, const QString &helpFile, const QString &html)
{
    QTextBrowser *browser = HelpEngine::window(owner);
    if (!browser) {
        browser = new QTextBrowser(owner);
        browser->setObjectName(kWindowName);
        browser->setWindowFlag(Qt::Window);
        browser->setWindowTitle(HelpEngine::kHelpCaption);
        browser->setAccessibleName(QStringLiteral("Help"));
        browser->setOpenExternalLinks(true);
        browser->resize(520, 440);
    }
    // Relative links and pictures resolve beside the help file.
    browser->document()->setBaseUrl(QUrl::fromLocalFile(QFileInfo(helpFile).absoluteFilePath()));
    browser->setHtml(html);
    browser->show();
    browser->raise();
    browser->activateWindow();
    return browser;
}

} // namespace

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
    QTextBrowser *browser = openWindow(owner, helpFile, html);
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
    QTextBrowser *browser = openWindow(owner, helpFile, html);
    browser->scrollToAnchor(anchor);
    return true;
}
