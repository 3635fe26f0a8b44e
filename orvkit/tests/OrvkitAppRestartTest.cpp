// The library in a process that makes one QApplication after another: what it keeps between
// calls belongs to the application it was made under, and a later application starts clean.
// The test makes its applications itself, so it has no QTEST_MAIN.
#include "OrvAboutBox.h"
#include "OrvSplash.h"

#include <orvkit/orvkit.h>

#include <QApplication>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace orvkit;

class OrvkitAppRestartTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each application in turn opens the about box and a splash and goes while both are still
    // shown; the next application finds neither, and its box is a new one that animates and
    // closes by OK, its splash a new one that shows its picture.
    void windowsWorkInEachApplication()
    {
        for (int round = 1; round <= 3; ++round) {
            const QByteArray where = "round " + QByteArray::number(round);
            int argc = 1;
            char name[] = "OrvkitAppRestartTest";
            char *argv[] = { name, nullptr };
            auto app = std::make_unique<QApplication>(argc, argv);

            QVERIFY2(!currentAboutBox(), where);
            QVERIFY2(!splashState().window && !splashState().active, where);
            QVERIFY2(splashState().canvas.isNull(), where);

            QVERIFY(OrvAboutBox(0) != 0);
            QPointer<AboutWindow> box = currentAboutBox();
            QVERIFY(box);
            QTRY_VERIFY(box->isVisible());
            QTRY_VERIFY(box->framesTaken() >= 2);
            if (round == 2) {
                // One application closes its box before it goes.
                QTest::mouseClick(
                    box->findChild<QPushButton *>(QStringLiteral("OkButton")), Qt::LeftButton);
                QTRY_VERIFY(!box);
            }

            QImage picture(16, 8, QImage::Format_RGB32);
            picture.fill(Qt::green);
            const std::uintptr_t splash
                = OrvSplashScreen(0, reinterpret_cast<std::uintptr_t>(&picture), 16, 8);
            QVERIFY2(splash != 0, where);
            QPointer<QWidget> splashWindow = QWidget::find(static_cast<WId>(splash));
            QVERIFY(splashWindow);
            QCOMPARE(splashWindow->grab().toImage().pixelColor(8, 4), QColor(Qt::green));

            app.reset();
            QVERIFY2(!box, where);
            QVERIFY2(!splashWindow, where);
        }
    }
};

int main(int argc, char **argv)
{
    OrvkitAppRestartTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "OrvkitAppRestartTest.moc"
