#pragma once

#include "PathList.h"

#include <QFileDialog>
#include <QIcon>
#include <QList>
#include <QStringList>
#include <QWidget>

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;
class QToolButton;
class TDirectory95ListBox;
class TFileView;
class TGradientCaption;
class TDrive95ComboBox;
class TMediaPlayer;
class TPlayListDialog;
class TShadowLabel;
class TTrackBar95;
class WindowPlayer;

namespace tunedeck {
class Player;
}

// The main window's status bar: seven panels side by side, each with its text, width,
// alignment and bevel. The last panel takes the remaining width and is drawn empty (the
// position bar stands over it). A widget: UI thread only.
class TStatusBar : public QWidget {
    Q_OBJECT

public:
    explicit TStatusBar(QWidget *parent = nullptr);

    static constexpr int kPanelCount = 7;
    QString panelText(int index) const;
    void setPanelText(int index, const QString &text);
    // The label showing panel `index`.
    QLabel *panel(int index) const { return m_panels.at(index); }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QList<QLabel *> m_panels;
};

// The main window (component Tunedeckform): the browser, the play list, the transport buttons,
// the status bar with its position bar, the two drop-down menus and the invisible player
// device. Every component is a child under its layout name, so tests and the other modules reach
// it by name. Everything runs on the UI thread, one handler at a time; device notices and timer
// ticks arrive as queued events, also beneath modal boxes.
class TTunedeckform : public QWidget {
    Q_OBJECT

public:
    explicit TTunedeckform(QWidget *parent = nullptr);
    // Destroys every component; destroying LettoreMidi closes an open file, so the sound stops.
    ~TTunedeckform() override;

    // The window's caption in the layout's sense ("Tunedeck V1.6.0"), what the painted title
    // bar shows. The window-system title carries the application title instead, because that
    // is what the Linux task bar shows.
    QString Caption() const { return m_caption; }
    void setCaption(const QString &caption);
    // The client area in window coordinates: 456 x 305 below the painted title bar (the whole
    // window when the title bar is not active). Components of the window stand inside it.
    QRect clientRect() const;

    // Start-up and commands
    void FormCreate();
    void FormShow();
    void Exit1Click();
    void Contents1Click();
    void about2Click();
    void AboutOrvaneSoftware1Click();

    // Playback sequencer (UnitGenerale.cpp)
    void PlayButtClick();
    void StopButtClick();
    void PauseButtClick();
    void ResButtClick();
    void SkipButtClick();
    void LettoreMidiNotify();
    void TimerPlayTimer();
    void PosBarChange();
    // Moves the open file to `positionMs` (playing on from there shortly after, unless paused),
    // wherever it is now; the bar's handler calls it for moves worth a seek.
    void SeekTo(quint32 positionMs);
    void ResTimerTimer();

    // Browser and play list (TunedeckFormBrowser.cpp)
    // Empties the file view and lists the playable files of the process's current directory,
    // sorted in the user locale's collation order, none selected. A folder that cannot be read
    // leaves the view empty.
    void FillFileView();
    // Whether the name's extension (from its last ".", with no "/" after it) is ".MID", ".RMI"
    // or ".WAV" in any case of the ASCII letters.
    static bool IsAudioFile(const QString &fileName);
    // Appends the file view's selected files (in view order) to the play list.
    void AddOneButtClick();
    // Appends every file of the file view to the play list.
    void AddAllButtClick();
    // Removes the selected play-list entries from Lista and PlayListPaths alike; none stays
    // selected.
    void RemoveOneButtClick();
    void RemoveAllButtClick();
    // Drag handlers: `source` is what is dragged, `position` the pointer in the target's
    // viewport. The over-handlers set `accept` for a drag from the file view.
    void ListaDragOver(QObject *source, QPoint position, bool &accept);
    void ListaDragDrop(QObject *source, QPoint position);
    void TdfileVDragOver(QObject *source, QPoint position, bool &accept);
    void TdfileVDragDrop(QObject *source, QPoint position);
    // Moves the folder list to the drive box's drive. While it cannot, asks "Drive not ready"
    // (Abort, Retry); Abort puts the drive box back on the folder list's drive.
    void TdDriveChange();
    void TdDirectoryChange();
    // Connects the browser's and the play list's events to the handlers above; called once by
    // createComponents.
    void connectBrowser();

    // Play-list files (TunedeckFormPlayListFiles.cpp)
    void OpenPlayList1Click();
    void SavePlayList1Click();

    // The player as everything outside the window sees it (UnitGenerale.cpp).
    tunedeck::Player *player() const;

    // The play list: full names in PlayListPaths, what Lista shows of each beside them. These
    // two keep the pair in step.
    void appendEntries(const tunedeck::PathList &entries);
    // Takes the first entry out of both and returns its full name (empty when there is none).
    QString takeFirstEntry();
    // Has the device read ahead the first entry, the one that plays next (with none, lets go of
    // what was read); the window does it whenever the list changes.
    void readNextAhead();

    // Components, by their layout names. Owned by the window (Qt parent-child).
    QFrame *Panel1 = nullptr;
    QFrame *Panel2 = nullptr;
    QFrame *Bevel2 = nullptr;
    QWidget *ToolBar1 = nullptr;
    QToolButton *ToolButton1 = nullptr;
    QToolButton *ToolButton2 = nullptr;
    QFrame *Bevel1 = nullptr;
    QFrame *Bevel3 = nullptr;
    TShadowLabel *ShadowLabel1 = nullptr;
    QLabel *FNPlay = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    TDrive95ComboBox *TdDrive = nullptr;
    TDirectory95ListBox *TdDirectory = nullptr;
    TFileView *TdfileV = nullptr;
    QPushButton *AddOneButt = nullptr;
    QPushButton *AddAllButt = nullptr;
    QPushButton *RemoveOneButt = nullptr;
    QPushButton *RemoveAllButt = nullptr;
    QListWidget *Lista = nullptr;
    QPushButton *PlayButt = nullptr;
    QPushButton *StopButt = nullptr;
    QPushButton *PauseButt = nullptr;
    QPushButton *ResButt = nullptr;
    QPushButton *SkipButt = nullptr;
    QPushButton *ExitButt = nullptr;
    TStatusBar *StatusBar = nullptr;
    TTrackBar95 *PosBar = nullptr;
    TMediaPlayer *LettoreMidi = nullptr;
    QTimer *TimerPlay = nullptr;
    QTimer *ResTimer = nullptr;
    QMenu *MainFileMenu = nullptr;
    QMenu *MainHelpMenu = nullptr;
    QAction *OpenPlayList1 = nullptr;
    QAction *SavePlayList1 = nullptr;
    QAction *N1 = nullptr;
    QAction *Exit1 = nullptr;
    QAction *Contents1 = nullptr;
    QAction *N2 = nullptr;
    QAction *AboutOrvaneSoftware1 = nullptr;
    QAction *about2 = nullptr;
    // Made by playListDialog() when first needed.
    TPlayListDialog *OpenDialog = nullptr;
    TPlayListDialog *SaveDialog = nullptr;
    TGradientCaption *GradientCaption1 = nullptr;
    // Menu pictures by index: 0 open, 1 save, 2 about, 3 help contents, 4 exit.
    QList<QIcon> MenuIcons;
    // File-view pictures: index 0, the file symbol every item shows.
    QList<QIcon> IconeAudio;

    // The play list's full file names, parallel to Lista's display names. Held by the window
    // rather than at file scope so that each window (tests make several) has its own list.
    tunedeck::PathList PlayListPaths;
    // Length in ms of the file last opened for playing, as the device reported it; 0 until the
    // first file opens, never cleared.
    qint64 CurrentLength = 0;
    // What the missing-soundfont box last reported (empty: not shown in this run); the box
    // comes again only when the search finds something different.
    QString SoundfontProblemShown;

protected:
    void showEvent(QShowEvent *event) override;
    // The window's accessible name follows its title.
    void changeEvent(QEvent *event) override;

private:
    // The components, by the layout's areas, then their connections.
    void createComponents();
    void createIcons();
    void createTopBar();
    void createBrowser();
    void createTransport();
    void createStatusBar();
    void createDevice();
    void connectComponents();
    TPlayListDialog *playListDialog(QFileDialog::AcceptMode mode);
    void createPlayer();
    void createCaption();
    void createMenus();
    void setTabOrder();
    // Marks the position bar's changes made by the display update, which never seek.
    friend class PosBarQuietScope;

    QString m_caption;
    bool m_posBarQuiet = false;
    WindowPlayer *m_player = nullptr;
};

// The single main window while it exists, else nullptr. The sequencer's routines reach the
// window through it.
extern TTunedeckform *Tunedeckform;
