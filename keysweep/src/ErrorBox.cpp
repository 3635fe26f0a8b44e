#include "keysweep/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace keysweep {

namespace {

// Connects to a Unix socket by path, or in the abstract namespace when `abstract` is set.
bool socketAnswers(const std::string &path, bool abstract)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const std::size_t offset = abstract ? 1 : 0;
    if (path.size() + offset >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length
        = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size() + (abstract ? 0 : 1));
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0;
    ::close(fd);
    return answered;
}

bool waylandAnswers()
{
    const char *display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || *display == '\0')
        return false;
    if (display[0] == '/')
        return socketAnswers(display, false);
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime != '\0'
        && socketAnswers(std::string(runtime) + "/" + display, false);
}

bool xAnswers()
{
    const char *display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        return false;
    const std::string name(display);
    const std::size_t colon = name.rfind(':');
    if (colon == std::string::npos)
        return false;
    const std::string host = name.substr(0, colon);
    if (!host.empty() && host != "unix")
        return true; // a remote display: Qt will try it
    const std::string number = name.substr(colon + 1, name.find('.', colon) - colon - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const std::string socketPath = "/tmp/.X11-unix/X" + number;
    return socketAnswers(socketPath, true) || socketAnswers(socketPath, false);
}

// Whether Qt can open the display: a socket that answers may still belong to a server that
// refuses us (no access, a stale socket of a server that hangs), and Qt aborts the program when
// it cannot open its window system. So a child process tries first, with its output dropped;
// one that has not managed within a few seconds is taken as a display that does not answer.
bool qtOpensDisplay()
{
    constexpr int kLimitMs = 5000;
    if (QApplication::instance() != nullptr)
        return true;
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
        static int argc = 1;
        static char name[] = "keysweep";
        static char *argv[] = { name, nullptr };
        QApplication application(argc, argv);
        std::_Exit(0);
    }
    const int processFd = int(::syscall(SYS_pidfd_open, child, 0));
    pollfd ended { processFd, POLLIN, 0 };
    if (processFd < 0 || ::poll(&ended, 1, kLimitMs) != 1)
        ::kill(child, SIGKILL);
    if (processFd >= 0)
        ::close(processFd);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

bool displayAvailable()
{
    return (waylandAnswers() || xAnswers()) && qtOpensDisplay();
}

void showErrorBox(std::string_view text, std::string_view caption)
{
    static int argc = 1;
    static char name[] = "keysweep";
    static char *argv[] = { name, nullptr };
    std::unique_ptr<QApplication> application;
    if (QApplication::instance() == nullptr)
        application = std::make_unique<QApplication>(argc, argv);

    QMessageBox box(QMessageBox::NoIcon,
        QString::fromUtf8(caption.data(), qsizetype(caption.size())),
        QString::fromUtf8(text.data(), qsizetype(text.size())), QMessageBox::Ok);
    box.setAccessibleName(box.windowTitle());
    box.exec();
}

} // namespace keysweep
