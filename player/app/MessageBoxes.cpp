#include "MessageBoxes.h"

#include "Texts.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

#include <algorithm>

namespace tunedeck {

namespace {

// A message box that places itself in the middle of the screen once its size is known.
class CentredMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        centreOnScreen(this);
    }
};

// The most lines, and characters in a word, a box shows: a text from outside (a list of
// names, one very long name) must not make a box larger than the screen. The box wraps lines
// at spaces itself.
constexpr qsizetype kMaxBoxLines = 25;
constexpr qsizetype kMaxBoxWordLength = 100;
// And the most characters in all, for lines of many short words, which the box wraps.
constexpr qsizetype kMaxBoxCharacters = 1500;

// `text` cut to the box's bounds: long words lose their middle, extra lines (at any line
// break) and characters past the most a box holds are left out.
QString boundedText(const QString &text)
{
    if (text.size() <= kMaxBoxWordLength)
        return text;
    QString unified = text;
    unified.replace(texts::kLineBreak, QStringLiteral("\n")).replace(u'\r', u'\n');
    QStringList lines = unified.split(u'\n');
    if (lines.size() > kMaxBoxLines)
        lines.resize(kMaxBoxLines);
    qsizetype room = kMaxBoxCharacters;
    for (qsizetype index = 0; index < lines.size(); ++index) {
        if (room == 0) {
            lines.resize(index);
            break;
        }
        QString &line = lines[index];
        QStringList words = line.split(u' ');
        for (QString &word : words) {
            if (word.size() > kMaxBoxWordLength) {
                const qsizetype half = kMaxBoxWordLength / 2;
                word = word.first(half) + QChar(0x2026) + word.last(half);
            }
        }
        line = words.join(u' ');
        if (line.size() > room)
            line = line.first(room) + QChar(0x2026);
        room = std::max<qsizetype>(0, room - line.size());
    }
    return lines.join(texts::kLineBreak);
}

MessageResult runBox(
    QMessageBox::Icon icon, const QString &caption, const QString &text, MessageButtons buttons)
{
    CentredMessageBox box(icon, caption, boundedText(text), QMessageBox::NoButton);
    box.setWindowModality(Qt::ApplicationModal);
    box.setTextFormat(Qt::PlainText); // names from outside show as they are, never as markup
    QAbstractButton *retry = nullptr;
    if (buttons == MessageButtons::AbortRetry) {
        // One role for both keeps them in this order on every platform's button layout; a box
        // closed without a button then counts as Abort.
        box.addButton(QStringLiteral("&Abort"), QMessageBox::ActionRole);
        QPushButton *retryButton = box.addButton(QStringLiteral("&Retry"), QMessageBox::ActionRole);
        retry = retryButton;
        box.setDefaultButton(retryButton);
    } else {
        box.setDefaultButton(box.addButton(QMessageBox::Ok));
    }
    Q_EMIT MessageBoxHub::instance()->aboutToShow(&box);
    box.exec();
    if (buttons == MessageButtons::Ok)
        return MessageResult::Ok;
    return box.clickedButton() == retry && retry ? MessageResult::Retry : MessageResult::Abort;
}

} // namespace

MessageBoxHub *MessageBoxHub::instance()
{
    static MessageBoxHub hub;
    return &hub;
}

MessageResult showMessage(MessageKind kind, const QString &text, MessageButtons buttons)
{
    switch (kind) {
    case MessageKind::Warning:
        return runBox(QMessageBox::Warning, texts::kWarningCaption, text, buttons);
    case MessageKind::Error:
        return runBox(QMessageBox::Critical, texts::kErrorCaption, text, buttons);
    case MessageKind::Information:
        return runBox(QMessageBox::Information, texts::kInformationCaption, text, buttons);
    }
    Q_UNREACHABLE();
}

MessageResult showCaptionedMessage(MessageKind kind, const QString &caption, const QString &text)
{
    switch (kind) {
    case MessageKind::Warning:
        return runBox(QMessageBox::Warning, caption, text, MessageButtons::Ok);
    case MessageKind::Error:
        return runBox(QMessageBox::Critical, caption, text, MessageButtons::Ok);
    case MessageKind::Information:
        return runBox(QMessageBox::Information, caption, text, MessageButtons::Ok);
    }
    Q_UNREACHABLE();
}

QString generalErrorText(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QSize centreOnScreen(QWidget *window)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QSize outer = window->frameGeometry().size();
    if (!screen)
        return outer;
    const QRect area = screen->geometry();
    // A window larger than the screen still starts on it, its buttons as near as can be.
    window->move(area.x() + std::max(0, (area.width() - outer.width()) / 2),
        area.y() + std::max(0, (area.height() - outer.height()) / 2));
    return outer;
}

} // namespace tunedeck
