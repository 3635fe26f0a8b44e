// The peer of the start-up figures: a bare Qt Widgets window (a button and a list, nothing
// else), built with the same compiler, flags and Qt as the program.
#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QPushButton(QStringLiteral("Play")));
    auto *list = new QListWidget;
    list->addItems({ QStringLiteral("one.mid"), QStringLiteral("two.mid") });
    layout->addWidget(list);
    window.resize(456, 305);
    window.show();
    return QApplication::exec();
}
