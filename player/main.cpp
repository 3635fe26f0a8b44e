#include "DesktopFiles.h"
#include "Mpris.h"
#include "Player.h"
#include "Texts.h"
#include "TunedeckApplication.h"
#include "TunedeckFormUnit.h"

#include <QByteArray>
#include <QDateTime>
#include <QEvent>
#include <QList>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

int g_endRequests[2] = { -1, -1 };

extern "C" void requestEnd(int signal)
{
    // A second request ends the program at once, as the signal would: the window may be held.
    static volatile std::sig_atomic_t requested = 0;
    if (requested) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    requested = 1;
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(g_endRequests[1], &byte, 1);
}

// SIGTERM (the end of a session, or kill), SIGHUP and SIGINT end the program as Exit does: the
// window and its device are destroyed and the run's own settings folder removed, which the
// signals' default action left behind. The handler only writes a byte; the event loop reads it.
void endOnSignals(QObject *owner)
{
    if (::pipe2(g_endRequests, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *requests = new QSocketNotifier(g_endRequests[0], QSocketNotifier::Read, owner);
    QObject::connect(requests, &QSocketNotifier::activated, [] {
        char byte = 0;
        while (::read(g_endRequests[0], &byte, 1) > 0) { }
        QCoreApplication::exit(0);
    });
    struct sigaction action { };
    action.sa_handler = requestEnd;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : { SIGTERM, SIGHUP, SIGINT })
        sigaction(signal, &action, nullptr);
}

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

// Once the watched window has been painted, gets the soundfont ready behind it: the first paint
// does not wait for it, and the first song mostly finds it ready.
class PrepareAfterFirstPaint : public QObject {
public:
    explicit PrepareAfterFirstPaint(TTunedeckform *form)
        : m_form(form)
    { }
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, m_form, [form = m_form] { form->player()->prepare(); });
        }
        return false;
    }

private:
    TTunedeckform *m_form;
};

QByteArray workingFolder()
{
    QByteArray folder(4096, Qt::Uninitialized);
    while (!::getcwd(folder.data(), size_t(folder.size()))) {
        if (errno != ERANGE)
            return {};
        folder.resize(folder.size() * 2);
    }
    folder.truncate(qsizetype(qstrlen(folder.constData())));
    return folder;
}

const char kUsage[] = "Usage: tunedeck [FILE]...\n"
                      "A player for MIDI songs (.mid, .rmi) and wave files (.wav).\n"
                      "The files (folders, and play lists: .tdl, .m3u, .m3u8, .pls, .xspf) join\n"
                      "the play list, and the first starts playing; while Tunedeck runs, they go\n"
                      "to its window. -- ends the options, for a name that starts with '-'.\n"
                      "  --help     show this text\n"
                      "  --version  print the version\n";

// --help and --version, read before the window's toolkit needs a display: the exit status when
// one of them is given (before any --).
int answeredAtOnce(int argc, char **argv)
{
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("tunedeck %s\n", TUNEDECK_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    return -1;
}

} // namespace

// The command line names files to play (what a file manager's "Open with" passes); the program
// reads no settings and no registry-like store. A second start with files hands them to the
// window already running and ends.
int main(int argc, char **argv)
{
    if (const int status = answeredAtOnce(argc, argv); status >= 0)
        return status;
    // Qt sees only the options before a first --: what follows are file names, whatever they
    // look like (a file named -platform is no option then).
    int dashes = 1;
    while (dashes < argc && std::strcmp(argv[dashes], "--") != 0)
        ++dashes;
    char **const afterDashes = argv + dashes + (dashes < argc ? 1 : 0);
    const int namesAfterDashes = argc - int(afterDashes - argv);
    int toolkitArgc = dashes;
    TunedeckApplication application(toolkitArgc, argv);
    // Qt has taken its own options out of its part of argv by now; the rest are file names, as
    // bytes.
    QList<QByteArray> files;
    for (int i = 1; i < toolkitArgc; ++i)
        files.append(QByteArray(argv[i]));
    for (int i = 0; i < namesAfterDashes; ++i)
        files.append(QByteArray(afterDashes[i]));
    const QByteArray folder = files.isEmpty() ? QByteArray() : workingFolder();
    // The first start takes the bus name at once; a later one hands its files to it.
    const bool first = tunedeck::mpris::claimName();
    if (!first && !files.isEmpty() && folder.isEmpty()) {
        // The folder this start was made in is gone: a relative name names no file the window
        // running could find (it would look in its own folder).
        const auto relative = std::stable_partition(files.begin(), files.end(),
            [](const QByteArray &name) { return name.startsWith('/'); });
        for (auto name = relative; name != files.end(); ++name)
            std::fprintf(stderr, "tunedeck: %s: the current folder is gone\n", name->constData());
        const bool anyRelative = relative != files.end();
        files.erase(relative, files.end());
        if (files.isEmpty() && anyRelative)
            return 1;
    }
    if (!first && !files.isEmpty() && tunedeck::mpris::handOverFiles(files, folder))
        return 0;

    endOnSignals(&application);
    TunedeckApplication::loadFonts();
    TunedeckApplication::setTitle(tunedeck::texts::kStartupTitle);
    TunedeckApplication::setHelpFile(tunedeck::texts::kHelpFileName);

    int result = 0;
    {
        TTunedeckform form;
        FirstPaintProbe probe;
        if (lcStartup().isDebugEnabled())
            form.installEventFilter(&probe);
        PrepareAfterFirstPaint prepare(&form);
        form.installEventFilter(&prepare);
        form.show();
        // Media keys and a second start reach this window over the session bus, if there is one.
        auto *bus = new tunedeck::mpris::Service(form.player());
        bus->registerOnBus();
        if (!files.isEmpty()) {
            QTimer::singleShot(0, &form, [&form, &files, &folder] {
                tunedeck::desktop::appendFiles(*form.player(), files, folder, true);
            });
        }
        result = TunedeckApplication::exec();
        // Leaving this block destroys the window and its device, which closes an open file.
    }
    return result;
}
