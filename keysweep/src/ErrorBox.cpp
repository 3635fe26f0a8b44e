#include "keysweep/ErrorBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
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

} // namespace

bool displayAvailable()
{
    return waylandAnswers() || xAnswers();
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
