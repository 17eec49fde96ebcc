#pragma once

#include "player/extras/extras_settings.h"

#include <QObject>
#include <QKeySequence>
#include <QTimer>

class QAction;
class QMenu;

namespace lumora {

enum class PlayerLabel;
class PlayerControl;
class ProgramExtras;
class StreamRecorder;
class TitleNotifier;

// One page's player's extras, in its context menu and on keys while the player has the focus:
// title notifications (Ctrl+Shift+N), recording (Ctrl+Shift+R), one file per title, the
// recordings' folder, the program's sleep timer, even loudness (Ctrl+Shift+L). Lives as long
// as the player (a child of it).
class PlayerExtras : public QObject {
    Q_OBJECT
public:
    static constexpr int kNoteIntervalMs = 1000; // the recording's time and size shown

    PlayerExtras(PlayerControl *player, ProgramExtras &program);
    ~PlayerExtras() override;

    void apply(const ExtrasSettings &settings);

    StreamRecorder &recorder() const { return *m_recorder; }
    TitleNotifier &notifier() const { return *m_notifier; }
    // Starts or stops recording the station that plays.
    void toggleRecording();
    // Opens the choice of a time of day for the sleep timer.
    void chooseSleepTime();
    // Opens the choice of the recordings' folder.
    void chooseRecordFolder();

private:
    void fillMenu(QMenu *menu);
    void showRecording();
    QAction *action(PlayerLabel label, const QKeySequence &keys = {});

    PlayerControl *m_player;
    ProgramExtras &m_program;
    StreamRecorder *m_recorder;
    TitleNotifier *m_notifier;
    QTimer m_noteTimer;
    QAction *m_notify;
    QAction *m_record;
    QAction *m_loudness;
};

} // namespace lumora
