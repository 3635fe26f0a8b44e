#pragma once

#include <QFileDialog>

// The file dialogs of the File menu's play-list commands: the one filter "Tunedeck PlayList",
// "tdl" added to a name typed without extension, and the full name last chosen in this dialog
// shown again each time it opens. Saving asks before it replaces a file and refuses a folder
// that does not exist (a warning, and the dialog stays open); opening wants an existing file.
// A widget: UI thread only.
class TPlayListDialog : public QFileDialog {
    Q_OBJECT

public:
    TPlayListDialog(QFileDialog::AcceptMode mode, QWidget *parent = nullptr);

    // Runs the dialog modally, starting from the name last chosen in it; returns the chosen full
    // name, or an empty string when the user cancelled. The caller's event loop goes on beneath
    // it (timer ticks and device notices).
    QString choose();

    // The full name last chosen in this dialog; empty before the first.
    QString lastChosen() const { return m_lastChosen; }

public Q_SLOTS:
    void accept() override;

private:
    QString m_lastChosen;
};
