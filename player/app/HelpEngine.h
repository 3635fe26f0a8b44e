#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QString>

class QWidget;
class QTextBrowser;

// The player's help engine. A help file is one HTML document whose topics begin at anchors
// named "topic<N>", N being the topic's context number; the contents are the document's start.
// Topics are shown in one help window per owner, which stays open beside the owner (not modal)
// and is reused by later requests. Failures (a missing or unreadable file, an unknown topic) are
// reported by the engine itself in a box captioned kHelpCaption. UI thread only.
class HelpEngine {
public:
    // Caption of the help window and of the engine's own failure boxes.
    static const QString kHelpCaption;

    // Shows the contents of `helpFile` with `owner` as the window's owner. Returns false after
    // reporting a failure.
    static bool showContents(QWidget *owner, const QString &helpFile);
    // Shows topic `context` of `helpFile`. Returns false after reporting a failure.
    static bool showTopic(QWidget *owner, const QString &helpFile, int context);
    // Where a help window of `size` (its frame adds `frame`) opens for an owner whose frame is
    // `ownerFrame`: beside it on the right, else on the left, when the screen's available area
    // has room there; else wherever it lies fully on the screen. Returns the window's geometry
    // without its frame.
    static QRect placeBeside(QRect ownerFrame, QSize size, QMargins frame, QRect screen);
    // The help window of `owner` (object name "HelpWindow"), or nullptr while none was opened.
    static QTextBrowser *window(QWidget *owner);
};
