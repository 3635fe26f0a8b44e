#pragma once

// Shared by the player's Qt tests: a main that runs the test object under the program's own
// application class (so exceptions escaping handlers reach the general error report, as in the
// program), and a recorder that answers the player's message boxes.

#include "MessageBoxes.h"
#include "TunedeckApplication.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <functional>
#include <utility>

// One message box as the user saw it.
struct ShownBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QRect frame;
    Qt::TextFormat format = Qt::AutoText;
};

// Records every box the player's helpers show and closes it as soon as its event loop runs,
// by clicking the button named `answer` (the default button when empty). With `holdOpen`
// set, a box stays open until release() — for tests that need events handled beneath it.
class BoxRecorder : public QObject {
public:
    explicit BoxRecorder(QString answerText = QString())
        : m_answer(std::move(answerText))
    {
        connect(tunedeck::MessageBoxHub::instance(), &tunedeck::MessageBoxHub::aboutToShow, this,
            [this](QMessageBox *box) {
                m_boxes.append(
                    { box->windowTitle(), box->text(), box->icon(), {}, {}, box->textFormat() });
                const qsizetype index = m_boxes.size() - 1;
                QMetaObject::invokeMethod(
                    box,
                    [this, box, index] {
                        m_boxes[index].frame = box->frameGeometry();
                        // The buttons as the user sees them, left to right.
                        QList<QAbstractButton *> buttons = box->buttons();
                        std::sort(buttons.begin(), buttons.end(), [](auto *a, auto *b) {
                            return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
                        });
                        for (QAbstractButton *button : buttons)
                            m_boxes[index].buttons.append(button->text());
                        if (m_whileOpen) {
                            // Runs inside the box's own event loop: timers and notices go on.
                            const auto whileOpen = std::exchange(m_whileOpen, nullptr);
                            whileOpen();
                        }
                        if (m_holdOpen) {
                            m_open = box;
                            return;
                        }
                        answer(box);
                    },
                    Qt::QueuedConnection);
            });
    }

    void setHoldOpen(bool hold) { m_holdOpen = hold; }
    // Runs `check` once, while the next box is open (inside its event loop), then answers it.
    void whileNextBoxIsOpen(std::function<void()> check) { m_whileOpen = std::move(check); }
    // Closes a box held open.
    void release()
    {
        m_holdOpen = false;
        if (m_open)
            answer(m_open);
        m_open = nullptr;
    }
    bool isHolding() const { return m_open != nullptr; }

    const QList<ShownBox> &boxes() const { return m_boxes; }
    QStringList texts() const
    {
        QStringList result;
        for (const ShownBox &box : m_boxes)
            result.append(box.text);
        return result;
    }

private:
    void answer(QMessageBox *box)
    {
        QAbstractButton *button = box->defaultButton();
        if (!m_answer.isEmpty()) {
            for (QAbstractButton *candidate : box->buttons()) {
                if (candidate->text() == m_answer)
                    button = candidate;
            }
        }
        if (button)
            button->click();
        else
            box->reject();
    }

    QString m_answer;
    bool m_holdOpen = false;
    std::function<void()> m_whileOpen;
    QMessageBox *m_open = nullptr;
    QList<ShownBox> m_boxes;
};

#define TUNEDECK_PLAYER_TEST_MAIN(TestObject)                                                      \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        TunedeckApplication application(argc, argv);                                               \
        TunedeckApplication::loadFonts();                                                          \
        TestObject test;                                                                           \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
