// A Qt program that loads the library at run time, shows the about box and a splash, closes both,
// unloads the library and then ends its application: it ends cleanly.
//   OrvkitUnloadTest <path of liborvkit.so>        exits 0 when it does
#include <orvkit/orvkit.h>

#include <QApplication>
#include <QPointer>
#include <QWidget>

#include <dlfcn.h>

#include <cstdio>
#include <memory>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <liborvkit.so>\n", argv[0]);
        return 2;
    }
    auto app = std::make_unique<QApplication>(argc, argv);
    void *library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "FAIL: %s\n", dlerror());
        return 1;
    }
    using AboutBox = std::uintptr_t (*)(std::uintptr_t);
    using Splash
        = std::uintptr_t (*)(std::uintptr_t, std::uintptr_t, std::uintptr_t, std::uintptr_t);
    const auto about = reinterpret_cast<AboutBox>(dlsym(library, "OrvAboutBox"));
    const auto splash = reinterpret_cast<Splash>(dlsym(library, "OrvSplashScreen"));
    if (!about || !splash || about(0) == 0) {
        std::fprintf(stderr, "FAIL: the about box did not open\n");
        return 1;
    }
    const QPointer<QWidget> splashWindow = QWidget::find(static_cast<WId>(splash(0, 0, 40, 30)));
    delete splashWindow.data();
    for (QWidget *window : QApplication::topLevelWidgets())
        window->close(); // the about box, as its OK does
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (dlclose(library) != 0) {
        std::fprintf(stderr, "FAIL: dlclose: %s\n", dlerror());
        return 1;
    }
    QApplication::processEvents();
    app.reset(); // where Qt calls what the library left for the application's end
    std::puts("PASS: unloaded, and the application ended");
    return 0;
}
