#include "OrvShell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QThread>
#include <QUrl>

namespace orvkit {

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
    return QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerAddress)))
        ? kShellOpened
        : kShellNoAssociation;
}

} // namespace orvkit
