// The error box on Qt's offscreen platform: its text, caption and single OK button, closed
// from the keyboard.
#include "keysweep/ErrorBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

TEST(ErrorBox, ShowsTextCaptionAndOneOkButton)
{
    int argc = 1;
    char name[] = "ErrorBoxTest";
    char *argv[] = { name, nullptr };
    QApplication application(argc, argv);

    QString text;
    QString title;
    QStringList buttons;
    bool hadOwner = true;
    int polls = 0;
    // The box runs its own loop; this timer finds it there and answers it with Enter. The
    // bound only keeps a broken build from hanging: the box normally shows on the first poll.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr) {
            if (++polls > 1000)
                QApplication::closeAllWindows();
            return;
        }
        poll.stop();
        text = box->text();
        title = box->windowTitle();
        hadOwner = box->parentWidget() != nullptr;
        for (QAbstractButton *button : box->buttons())
            buttons << button->text().remove(QLatin1Char('&'));
        QTest::keyClick(box, Qt::Key_Return);
    });
    poll.start(10);
    keysweep::showErrorBox("no key specified", "error");

    EXPECT_EQ(text, QStringLiteral("no key specified"));
    EXPECT_EQ(title, QStringLiteral("error"));
    EXPECT_EQ(buttons, QStringList { QStringLiteral("OK") });
    EXPECT_FALSE(hadOwner);
}

// With neither $DISPLAY nor $WAYLAND_DISPLAY set there is no display to show a box on.
TEST(ErrorBox, NoDisplayWithoutDisplayVariables)
{
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(keysweep::displayAvailable());
    ::setenv("DISPLAY", ":4711", 1); // a local display nobody serves
    EXPECT_FALSE(keysweep::displayAvailable());
}

} // namespace
