#include "player_extras.h"

#include "player/extras/stream_recorder.h"
#include "player/extras/title_notifier.h"
#include "player/widget/player_control.h"
#include "player/widget/player_texts.h"
#include "program_extras.h"

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QMenu>
#include <QPushButton>
#include <QTime>
#include <QTimeEdit>

namespace lumora {

namespace {

const QString kRecordingNote = QStringLiteral("recording");
constexpr int kSleepMinutes[] = {15, 30, 60, 90};

// The time of day the sleep timer ends at: asked in a small dialog, right to left.
class SleepTimeDialog : public QDialog {
public:
    explicit SleepTimeDialog(QWidget *parent) : QDialog(parent)
    {
        setLayoutDirection(Qt::RightToLeft);
        setWindowTitle(playerLabel(PlayerLabel::SleepTimer));
        setAccessibleName(windowTitle());
        auto *form = new QFormLayout(this);
        m_time = new QTimeEdit(QTime::currentTime().addSecs(30 * 60), this);
        m_time->setObjectName(QStringLiteral("sleepTime"));
        // Hours before minutes, as clocks read; set before the format, which a time field
        // laid out right to left would turn round.
        m_time->setLayoutDirection(Qt::LeftToRight);
        m_time->setDisplayFormat(QStringLiteral("HH:mm"));
        m_time->setAccessibleName(playerLabel(PlayerLabel::SleepTimeLabel));
        form->addRow(playerLabel(PlayerLabel::SleepTimeLabel), m_time);
        auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        buttons->button(QDialogButtonBox::Ok)->setText(playerLabel(PlayerLabel::Accept));
        buttons->button(QDialogButtonBox::Cancel)->setText(playerLabel(PlayerLabel::Cancel));
        connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
        connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        form->addRow(buttons);
    }
    // Until the time chosen, today or, when it has passed, tomorrow.
    qint64 msUntil() const
    {
        const QDateTime now = QDateTime::currentDateTime();
        QDateTime at(now.date(), m_time->time());
        if (at <= now)
            at = at.addDays(1);
        return now.msecsTo(at);
    }

private:
    QTimeEdit *m_time;
};

} // namespace

PlayerExtras::PlayerExtras(PlayerControl *player, ProgramExtras &program)
    : QObject(player), m_player(player), m_program(program),
      m_recorder(new StreamRecorder(this)),
      m_notifier(new TitleNotifier(program.clock(), program.bus(), this))
{
    connect(player, &PlayerControl::statusChanged, m_notifier, &TitleNotifier::setStatus);
    connect(player, &PlayerControl::stationCaptionChanged, m_notifier, &TitleNotifier::setCaption);
    connect(player, &PlayerControl::stationCaptionChanged, m_recorder, &StreamRecorder::setCaption);
    m_notifier->setCaption(player->stationCaption());
    m_recorder->setCaption(player->stationCaption());
    player->setStreamTap(m_recorder);

    m_noteTimer.setInterval(kNoteIntervalMs);
    connect(&m_noteTimer, &QTimer::timeout, this, &PlayerExtras::showRecording);
    connect(m_recorder, &StreamRecorder::recordingChanged, this, [this](bool on) {
        if (on) {
            m_noteTimer.start();
            showRecording();
        } else {
            m_noteTimer.stop();
            m_player->setStatusNote(kRecordingNote, {});
        }
    });
    connect(m_recorder, &StreamRecorder::failed, this, [this](const QString &reason) {
        m_player->setStatusNote(kRecordingNote, recordingFailedNote(reason));
    });

    m_notify = action(PlayerLabel::NotifyTitles, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
    connect(m_notify, &QAction::triggered, this, [this](bool on) {
        ExtrasSettings s = m_program.settings();
        s.notifyTitles = on;
        m_program.setSettings(s);
    });
    m_record = action(PlayerLabel::Record, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    connect(m_record, &QAction::triggered, this, &PlayerExtras::toggleRecording);
    m_loudness = action(PlayerLabel::EvenLoudness, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L));
    connect(m_loudness, &QAction::triggered, this, [this](bool on) {
        ExtrasSettings s = m_program.settings();
        s.evenLoudness = on;
        m_program.setSettings(s);
    });
    connect(player, &PlayerControl::contextMenuOpening, this, &PlayerExtras::fillMenu);
    apply(program.settings());
}

// A child of the player, it goes after the player's engine (and its tap on the recorder).
PlayerExtras::~PlayerExtras() = default;

QAction *PlayerExtras::action(PlayerLabel label, const QKeySequence &keys)
{
    auto *a = new QAction(playerLabel(label), this);
    a->setCheckable(true);
    if (!keys.isEmpty()) {
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut); // while the player has the focus
        m_player->addAction(a);
    }
    return a;
}

void PlayerExtras::apply(const ExtrasSettings &settings)
{
    m_notifier->setEnabled(settings.notifyTitles);
    m_notify->setChecked(settings.notifyTitles);
    m_loudness->setChecked(settings.evenLoudness);
    m_player->setEvenLoudness(settings.evenLoudness);
}

void PlayerExtras::toggleRecording()
{
    if (m_recorder->isRecording()) {
        m_recorder->stop();
    } else {
        const ExtrasSettings &s = m_program.settings();
        if (!m_recorder->start(s.recordingFolder(), s.recordPerTitle))
            m_player->setStatusNote(kRecordingNote, recordingFailedNote(m_recorder->lastError()));
    }
    m_record->setChecked(m_recorder->isRecording());
}

void PlayerExtras::showRecording()
{
    m_player->setStatusNote(kRecordingNote, recordingNote(m_recorder->elapsedMs(), m_recorder->bytesWritten()));
}

void PlayerExtras::chooseSleepTime()
{
    SleepTimeDialog dialog(m_player);
    if (dialog.exec() == QDialog::Accepted)
        m_program.sleepTimer().start(dialog.msUntil());
}

void PlayerExtras::chooseRecordFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(
        m_player, playerLabel(PlayerLabel::RecordFolder), m_program.settings().recordingFolder());
    if (folder.isEmpty())
        return;
    ExtrasSettings s = m_program.settings();
    s.recordFolder = folder;
    m_program.setSettings(s);
}

void PlayerExtras::fillMenu(QMenu *menu)
{
    const ExtrasSettings &s = m_program.settings();
    menu->addSeparator();
    m_notify->setChecked(s.notifyTitles);
    menu->addAction(m_notify);
    m_record->setChecked(m_recorder->isRecording());
    m_record->setEnabled(m_recorder->isRecording() || m_recorder->canRecord());
    menu->addAction(m_record);
    QAction *perTitle = menu->addAction(playerLabel(PlayerLabel::RecordPerTitle), this, [this](bool on) {
        ExtrasSettings next = m_program.settings();
        next.recordPerTitle = on;
        m_program.setSettings(next);
    });
    perTitle->setCheckable(true);
    perTitle->setChecked(s.recordPerTitle);
    menu->addAction(playerLabel(PlayerLabel::RecordFolder), this, &PlayerExtras::chooseRecordFolder);

    QMenu *sleep = menu->addMenu(playerLabel(PlayerLabel::SleepTimer));
    sleep->setLayoutDirection(Qt::RightToLeft);
    SleepTimer &timer = m_program.sleepTimer();
    for (int minutes : kSleepMinutes)
        sleep->addAction(sleepMinutesLabel(minutes), this,
                         [&timer, minutes] { timer.start(qint64(minutes) * 60000); });
    sleep->addAction(playerLabel(PlayerLabel::SleepAtTime), this, &PlayerExtras::chooseSleepTime);
    QAction *cancel = sleep->addAction(playerLabel(PlayerLabel::SleepCancel), this, [&timer] { timer.cancel(); });
    cancel->setEnabled(timer.isActive());

    m_loudness->setChecked(s.evenLoudness);
    menu->addAction(m_loudness);
}

} // namespace lumora
