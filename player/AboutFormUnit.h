#pragma once

#include <QDialog>

// The about window (component AboutForm): a fixed-size dialog without title-bar buttons,
// centred on the screen when created. Created per use by the main window, shown modally and
// destroyed when it has closed. UI thread only.
class TAboutForm : public QDialog {
    Q_OBJECT

public:
    explicit TAboutForm(QWidget *parent = nullptr);

    void FormCreate();
};
