#pragma once

#include "player/common/playback_states.h"
#include "player/common/player_status.h"
#include "transport_icons.h"

#include <QString>
#include <QStringList>

namespace lumora {

// Every text the player shows or speaks, in one place: the names and tool tips of its
// controls, and what its status line says in each state, with the reason and what to do next.

enum class PlayerLabel {
    Player, // the whole player, for screen readers
    PictureArea,
    Controls, // the row of controls (a toolbar)
    Position,
    Stop,
    Volume,
    VolumeKeys, // how the volume is changed from the keyboard
    StatusLine, // what the status line is
    Mute,
    Unmute,
    CopyPath,   // context menu, for a station without an address: the endpoint file's path
    OpenFolder, // context menu: the folder of the endpoint file (or the nearest one there is)
    // The title history: the context menu's item, the dialog and what it holds.
    HistoryItem,   // the context menu's item that opens the dialog
    HistoryWindow, // the dialog's title
    HistoryList,   // the list, for screen readers
    HistoryTime,   // the list's columns
    HistoryTitle,
    HistoryStation,
    HistoryEmpty, // shown when nothing was heard yet
    CopyTitle,
    CopyAll,
    Export,
    ExportWindow, // the file dialog's title
    ExportFilter, // the file dialog's filter
    ExportFailed, // %1: the file, %2: why
    Close,
    // The program's memory between runs.
    ResumePlaying, // the context menu's switch: playing pages play again at the next start
    MemoryReset,   // %1: what was wrong with the file kept
    // The context menu's extras.
    NotifyTitles, // a desktop notification when the title changes
    Record,
    RecordPerTitle, // a new file at each title change
    RecordFolder,   // opens the choice of the recordings' folder
    SleepTimer,     // the submenu
    SleepAtTime,    // opens the choice of a time of day
    SleepCancel,
    SleepTimeLabel, // the time field of that choice
    EvenLoudness,
    Accept, // a small dialog's buttons
    Cancel,
};
QString playerLabel(PlayerLabel label);

// What the play button and the first item of the context menu do in a state (the state
// table's primary control), and how they show it: never the opposite of what they are called.
struct PrimaryAction {
    PrimaryControl control = PrimaryControl::None;
    TransportIcon icon = TransportIcon::Play;
    QString name;
};
PrimaryAction primaryAction(PlaybackState state);

// The state in words a listener understands: why a station could not be opened or was lost,
// and what to do about it. forDisplay sets text of another direction (a Latin title, a file
// path) in Unicode isolates, for the right-to-left line.
QString describeStatus(const PlayerStatus &status, bool forDisplay);

// The whole status line: a right-to-left mark, the station's caption (isolated) while it is
// opened, played or failing, then the state.
QString statusLine(const PlayerStatus &status, const QString &stationCaption);
// What a screen reader announces: the status line without what ticks (the buffering
// percentage, the seconds a late station has been waited for, the countdown to the next try),
// which would be announced again and again and drown what matters.
QString spokenStatusLine(const PlayerStatus &status, const QString &stationCaption);
// The audio received and not yet heard, "الصوت المخزّن: 3.4 ث", in the states that show it;
// empty there while it is not known, and elsewhere.
QString cushionText(const PlayerStatus &status);
// The status line's tool tip: the line, for a station without an address the missing keys
// and the commands that help, and the audio buffered.
QString statusToolTip(const PlayerStatus &status, const QString &stationCaption);
// The status line's accessible description: what the line is, the whole line, and the audio
// buffered.
QString statusLineDescription(const PlayerStatus &status, const QString &stationCaption);

// The extras' lines in the status line's tool tip.
// "التسجيل: 1:05، 1.0 م.ب" while recording: the time recorded and the size of what was written.
QString recordingNote(qint64 ms, qint64 bytes);
// Why a recording stopped by itself; reason is the system's own words.
QString recordingFailedNote(const QString &reason);
// "يتوقّف التشغيل بعد 29:59": the sleep timer's time left, counted up to whole seconds.
QString sleepNote(qint64 msLeft);
// "15 دقيقة": an item of the sleep timer's submenu.
QString sleepMinutesLabel(int minutes);

} // namespace lumora
