#pragma once

#include <QApplication>
#include <QFont>
#include <QPointer>
#include <QString>

class QWidget;

// The program's application object. It holds the two application-wide settings (the title the
// task bar shows and the help file) and catches, once, any exception that escapes an event
// handler, showing it as the general error report; the program then goes on with the next event.
// Everything here belongs to the UI thread.
class TunedeckApplication : public QApplication {
    Q_OBJECT

public:
    TunedeckApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // The application title. On Linux the task bar shows the top-level window's title, so the
    // title is carried by the window registered with setTitleWindow(). Works without an
    // instance of this class too (tests run under a plain QApplication).
    static QString title();
    static void setTitle(const QString &title);
    // The window whose title carries the application title; nullptr detaches it.
    static void setTitleWindow(QWidget *window);

    // Full path of the help file (or the bare name until the main window sets the full path).
    static QString helpFile();
    static void setHelpFile(const QString &path);

    // Makes the classic window fonts available where the system has them outside the font
    // configuration (Debian's fonts-wine). Safe to call more than once.
    static void loadFonts();
    // "MS Sans Serif" 8 pt, the font of every window, or a close sans where it is missing.
    static QFont windowFont();
    // The window font in bold. The bundled "MS Sans Serif" has no bold face (a regular face
    // asked for bold is drawn regular), so this falls back to a close sans that has one.
    static QFont boldWindowFont();
    // The family to use for a font the layout names (e.g. "Arial", "Tahoma"): that family when
    // present, else a metric-compatible or close sans.
    static QString fontFamily(const QString &layoutFamily);

private:
    static QString s_title;
    static QString s_helpFile;
    static QPointer<QWidget> s_titleWindow;
};

namespace tunedeck {

// The general error report for an error that escaped a handler: a modal box captioned with the
// application title, with the error icon and "OK". UI thread only.
void showGeneralError(const QString &message);

} // namespace tunedeck
