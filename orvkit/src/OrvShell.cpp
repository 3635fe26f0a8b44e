#include "OrvShell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>
#include <QtGlobal>

#include <atomic>

namespace orvkit {

namespace {

// Qt's desktop services tell stderr why they could not open an address ("Unable to detect a web
// browser..."), and the library prints nothing. While one of the library's calls runs on the GUI
// thread, the debug, info and warning messages of that thread are dropped (a URL handler that
// the application installed runs inside the call, and is quietened with it); critical and fatal
// messages, and other threads' messages, go on to the handler that was installed before, which
// comes back when the call ends.
class QuietGuiThread {
public:
    // Nested spells (a URL handler that calls back into the library) keep the outermost one.
    QuietGuiThread()
    {
        if (s_depth++ == 0)
            s_previous.store(qInstallMessageHandler(&filter));
    }
    ~QuietGuiThread()
    {
        if (--s_depth == 0)
            qInstallMessageHandler(s_previous.exchange(nullptr));
    }
    QuietGuiThread(const QuietGuiThread &) = delete;
    QuietGuiThread &operator=(const QuietGuiThread &) = delete;

private:
    static void filter(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (onGuiThread() && type != QtCriticalMsg && type != QtFatalMsg)
            return;
        if (const QtMessageHandler previous = s_previous.load())
            previous(type, context, message);
    }

    static inline std::atomic<QtMessageHandler> s_previous { nullptr };
    static inline int s_depth = 0; // GUI thread only
};

} // namespace

bool onGuiThread()
{
    return qGuiApp && QThread::currentThread() == qGuiApp->thread();
}

bool onWidgetThread()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) && onGuiThread();
}

std::intptr_t openMakerSite()
{
    if (!onGuiThread())
        return kShellCannotRun;
    const QuietGuiThread quiet;
    return QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerAddress)))
        ? kShellOpened
        : kShellNoAssociation;
}

} // namespace orvkit
