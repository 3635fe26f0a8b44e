#pragma once

#include <QObject>
#include <QSize>
#include <QString>

class QMessageBox;
class QWidget;

namespace tunedeck {

// The three kinds of the player's own message boxes; each fixes the caption and the icon.
enum class MessageKind { Warning, Error, Information };
// The buttons a box offers: "OK" alone, or "&Abort" and "&Retry" (Retry the default, no cancel
// button) for the browser's unreadable-drive box.
enum class MessageButtons { Ok, AbortRetry };
// What the user chose. Closing an Abort/Retry box without a button counts as Abort.
enum class MessageResult { Ok, Abort, Retry };

// Shows a modal box of `kind` centred on the screen and returns when the user has closed it.
// The box runs its own event loop, so timer ticks and device notices go on being handled
// beneath it and may change the window's state before this returns. UI thread only.
MessageResult showMessage(
    MessageKind kind, const QString &text, MessageButtons buttons = MessageButtons::Ok);

// The same box with a caption of the caller's own (the help engine reports its own failures
// under its own name). UI thread only.
MessageResult showCaptionedMessage(MessageKind kind, const QString &caption, const QString &text);

// The text the general error report shows: the message, followed by "." when its last character
// sorts after "." in character-code order.
QString generalErrorText(const QString &message);

// Moves `window` to the middle of the primary screen by its frame's size, which it returns (a
// window manager's frame is known only once the window is shown); a window larger than the
// screen keeps its top left corner on it. UI thread only.
QSize centreOnScreen(QWidget *window);

// Announces every box these helpers show, just before its event loop starts. Tests and
// automation answer boxes through it; the program itself never connects. UI thread only.
class MessageBoxHub : public QObject {
    Q_OBJECT

public:
    static MessageBoxHub *instance();

Q_SIGNALS:
    // `box` is fully set up and about to run modally; it lives until the box has closed.
    void aboutToShow(QMessageBox *box);
};

} // namespace tunedeck
