#include "Texts.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

#include <QDateTime>
#include <QEvent>
#include <QLoggingCategory>

namespace {

// The moment the main window is first painted, for the start-up benchmark (off unless enabled
// with QT_LOGGING_RULES="tunedeck.startup.debug=true").
Q_LOGGING_CATEGORY(lcStartup, "tunedeck.startup", QtWarningMsg)

// Reports the first paint of the watched window once, as milliseconds since the epoch.
class FirstPaintProbe : public QObject {
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            qCDebug(lcStartup, "first paint at %lld ms", QDateTime::currentMSecsSinceEpoch());
            watched->removeEventFilter(this);
        }
        return false;
    }
};

} // namespace

// The program reads no command line, no settings and no registry-like store.
int main(int argc, char **argv)
{
    TunedeckApplication application(argc, argv);
    TunedeckApplication::loadFonts();
    TunedeckApplication::setTitle(tunedeck::texts::kStartupTitle);
    TunedeckApplication::setHelpFile(tunedeck::texts::kHelpFileName);

    int result = 0;
    {
        TTunedeckform form;
        FirstPaintProbe probe;
        if (lcStartup().isDebugEnabled())
            form.installEventFilter(&probe);
        form.show();
        result = TunedeckApplication::exec();
        // Leaving this block destroys the window and its device, which closes an open file.
    }
    return result;
}
