#include "player_control.h"

#include "player/common/playback_states.h"
#include "player/engine/vlc_backend.h"
#include "player_look.h"
#include "player_texts.h"
#include "status_line.h"
#include "title_history_dialog.h"
#include "toolbar_navigation.h"
#include "transport_icons.h"
#include "video_surface.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace lumora {

namespace {

// A button of the player: Enter and Return click it as Space does.
class PlayerButton : public QToolButton {
public:
    using QToolButton::QToolButton;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
            && !event->isAutoRepeat()) {
            click();
            return;
        }
        QToolButton::keyPressEvent(event);
    }
};

// The row of controls; a screen reader sees it as a toolbar.
class PlayerToolbar : public QWidget {
public:
    using QWidget::QWidget;
};

QAccessibleInterface *toolbarAccessible(const QString &, QObject *object)
{
    if (auto *toolbar = dynamic_cast<PlayerToolbar *>(object))
        return new QAccessibleWidget(toolbar, QAccessible::ToolBar);
    return nullptr;
}

constexpr int kPositionSteps = 1000;

QString colour(QRgb rgb)
{
    return QColor(rgb).name();
}

// The controls' look: the player's colours, a focus ring of 2 pixels on whatever has the
// keyboard focus, sliders whose groove and handle stand out from the panel.
QString controlsStyleSheet()
{
    const PlayerLook &l = kPlayerLook;
    return QStringLiteral(
               "QWidget#playerControls { background-color: %1; }"
               "QLabel#statusLine { color: %2; background: transparent; }"
               "QToolButton { border: 2px solid transparent; border-radius: 3px;"
               " background: transparent; padding: 0px; }"
               "QToolButton:hover, QToolButton:pressed { background-color: %6; }"
               "QToolButton:focus { border-color: %5; }"
               "QSlider { border: 2px solid transparent; border-radius: 3px; }"
               "QSlider:focus { border-color: %5; }"
               "QSlider::groove:horizontal { height: 4px; background: %4; border-radius: 2px; }"
               "QSlider::groove:horizontal:disabled { background: %7; }"
               "QSlider::handle:horizontal { width: 10px; margin: -4px 0px; border-radius: 5px;"
               " background: %3; }"
               "QSlider::handle:horizontal:disabled { background: %7; }")
        .arg(colour(l.panel), colour(l.text), colour(l.icon), colour(l.groove),
             colour(l.focus), colour(l.hover), colour(l.disabled));
}

// The file's folder, or the nearest folder above it that exists: on the first run neither
// the file nor its folder may be there yet, and nothing is created for them.
QString nearestFolder(const QString &file)
{
    QString folder = QFileInfo(file).absolutePath();
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            break;
        folder = parent;
    }
    return folder;
}

QIcon icon(TransportIcon kind)
{
    return transportIcon(kind, QColor(kPlayerLook.icon), QColor(kPlayerLook.disabled));
}

} // namespace

PlayerControl::PlayerControl(QWidget *parent)
    : PlayerControl(PlayerSettings::stored(), std::make_unique<VlcBackend>(), parent)
{
}

PlayerControl::PlayerControl(const PlayerSettings &settings, std::unique_ptr<MediaBackend> backend,
                             QWidget *parent)
    : QWidget(parent), m_model(std::make_unique<StationPlayer>(settings, std::move(backend)))
{
    setObjectName(QStringLiteral("WindowsMediaPlayer1"));
    build();
    applySettings();

    StationPlayer *model = m_model.get();
    model->setVideoWindowSource([this] { return m_picture->videoWindow(); });
    connect(model, &StationPlayer::statusChanged, this, &PlayerControl::showStatus);
    connect(model, &StationPlayer::stationCaptionChanged, this, [this](const QString &caption) {
        refreshStatusLine();
        emit stationCaptionChanged(caption);
    });
    connect(model, &StationPlayer::remarksChanged, this, &PlayerControl::refreshStatusLine);
    connect(model, &StationPlayer::volumeChanged, this, [this](int v) {
        m_volume->setValue(v); // no signal when the slider moved it
        emit volumeChanged(v);
    });
    connect(model, &StationPlayer::mutedChanged, this, &PlayerControl::updateMuteButton);

    MediaBackend &engine = model->backend();
    connect(&engine, &MediaBackend::positionChanged, this, [this](double f) {
        if (!m_position->isSliderDown())
            m_position->setValue(int(f * kPositionSteps));
    });
    connect(&engine, &MediaBackend::seekableChanged, m_position, &QWidget::setEnabled);
    connect(&engine, &MediaBackend::videoChanged, this,
            [this](bool hasVideo) { m_picture->setHasVideo(hasVideo); });
    showStatus(model->status());
}

PlayerControl::~PlayerControl()
{
    // The model and its engine go first, while the picture window the engine may draw into
    // still exists; a history dialog open on the model before them.
    delete m_historyDialog.data();
    m_model->disconnect(this);
    m_model->backend().disconnect(this);
    m_model.reset();
}

void PlayerControl::build()
{
    setLayoutDirection(Qt::RightToLeft);
    setAutoFillBackground(true);
    resize(settings().pixelSize());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    static const bool accessibleToolbar = (QAccessible::installFactory(toolbarAccessible), true);
    Q_UNUSED(accessibleToolbar);
    setAccessibleName(playerLabel(PlayerLabel::Player));

    m_picture = new VideoSurface(this);
    m_picture->setObjectName(QStringLiteral("pictureArea"));
    m_picture->setAccessibleName(playerLabel(PlayerLabel::PictureArea));
    column->addWidget(m_picture, 1);

    m_controls = new PlayerToolbar(this);
    m_controls->setObjectName(QStringLiteral("playerControls"));
    m_controls->setAccessibleName(playerLabel(PlayerLabel::Controls));
    m_controls->setAttribute(Qt::WA_StyledBackground);
    m_controls->setStyleSheet(controlsStyleSheet());
    auto *controlsColumn = new QVBoxLayout(m_controls);
    controlsColumn->setContentsMargins(2, 0, 2, 0);
    controlsColumn->setSpacing(0);
    controlsColumn->addWidget(buildPositionBar());
    controlsColumn->addLayout(buildTransportRow());
    controlsColumn->addWidget(buildStatusLine());

    // One stop in the focus order; the arrow keys move along the row.
    new ToolbarNavigation(m_controls, {m_playPause, m_stop, m_mute, m_volume, m_position});
    buildHistoryAction();

    column->addWidget(m_controls);
    column->activate(); // children at their places before the player is first shown
}

QSlider *PlayerControl::buildPositionBar()
{
    m_position = new QSlider(Qt::Horizontal, m_controls);
    m_position->setObjectName(QStringLiteral("positionBar"));
    m_position->setRange(0, kPositionSteps);
    m_position->setFixedHeight(16);
    m_position->setEnabled(false); // until a stream says it can seek; live radio never does
    m_position->setToolTip(playerLabel(PlayerLabel::Position));
    m_position->setAccessibleName(m_position->toolTip());
    connect(m_position, &QSlider::sliderReleased, this,
            [this] { m_model->backend().seek(double(m_position->value()) / kPositionSteps); });
    return m_position;
}

// Play/pause and stop at the start of the row, mute and volume at its end.
QHBoxLayout *PlayerControl::buildTransportRow()
{
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(2);
    auto makeButton = [this](const char *name) {
        auto *b = new PlayerButton(m_controls);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoRaise(true);
        b->setFixedSize(26, 22);
        b->setIconSize(QSize(14, 14));
        return b;
    };
    m_playPause = makeButton("playPauseButton");
    connect(m_playPause, &QToolButton::clicked, this, &PlayerControl::togglePlay);
    m_stop = makeButton("stopButton");
    m_stop->setIcon(icon(TransportIcon::Stop));
    m_stop->setToolTip(playerLabel(PlayerLabel::Stop));
    m_stop->setAccessibleName(m_stop->toolTip());
    connect(m_stop, &QToolButton::clicked, this, &PlayerControl::ownStop);
    m_mute = makeButton("muteButton");
    connect(m_mute, &QToolButton::clicked, this, &PlayerControl::toggleMute);
    m_volume = new QSlider(Qt::Horizontal, m_controls);
    m_volume->setObjectName(QStringLiteral("volumeSlider"));
    m_volume->setRange(0, 100);
    m_volume->setFixedWidth(72);
    m_volume->setToolTip(playerLabel(PlayerLabel::Volume));
    m_volume->setAccessibleName(m_volume->toolTip());
    m_volume->setAccessibleDescription(playerLabel(PlayerLabel::VolumeKeys));
    connect(m_volume, &QSlider::valueChanged, this, [this](int v) { m_model->setVolume(v); });

    buttons->addWidget(m_playPause);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);
    buttons->addWidget(m_mute);
    buttons->addWidget(m_volume);
    return buttons;
}

QWidget *PlayerControl::buildStatusLine()
{
    m_statusLine = new StatusLine(m_controls);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setFixedHeight(30);
    m_statusLine->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    QFont small = m_statusLine->font();
    small.setPixelSize(12);
    m_statusLine->setFont(small);
    return m_statusLine;
}

void PlayerControl::buildHistoryAction()
{
    m_historyAction = new QAction(playerLabel(PlayerLabel::HistoryItem), this);
    m_historyAction->setObjectName(QStringLiteral("historyAction"));
    m_historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    m_historyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(m_historyAction, &QAction::triggered, this, &PlayerControl::showHistory);
    addAction(m_historyAction);
}

void PlayerControl::applySettings()
{
    const PlayerSettings &s = settings();

    m_volume->blockSignals(true);
    m_volume->setValue(m_model->volume());
    m_volume->blockSignals(false);
    updateMuteButton();

    // uiMode: "full" shows everything; "mini" drops the position bar; "none" keeps only the
    // picture; "invisible" hides the player (it still plays).
    const QString mode = s.uiMode.toLower();
    m_controls->setVisible(mode == u"full" || mode == u"mini");
    m_position->setVisible(mode == u"full");
    if (mode == u"invisible")
        setVisible(false);
    m_controls->setEnabled(s.enabled);
    setContextMenuPolicy(s.enableContextMenu ? Qt::DefaultContextMenu : Qt::NoContextMenu);
    // fullScreen false: the player stays inside its page; nothing here ever leaves it.
    // invokeURLs: see the class comment; such commands are never acted on.
}

void PlayerControl::stop()
{
    m_model->stop();
}

void PlayerControl::setURL(const QString &url)
{
    m_model->setAddress(url);
}

void PlayerControl::showNoAddress(const QStringList &missingKeys, const QString &configFile)
{
    m_model->showNoAddress(missingKeys, configFile);
}

void PlayerControl::setStationCaption(const QString &caption)
{
    m_model->setStationCaption(caption);
}

int PlayerControl::volume() const
{
    return m_model->volume();
}

void PlayerControl::setVolume(int volume)
{
    m_model->setVolume(volume);
}

void PlayerControl::showHistory()
{
    if (!m_historyDialog) {
        m_historyDialog = new TitleHistoryDialog(m_model->history(), this);
        m_historyDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_historyDialog->show();
    m_historyDialog->raise();
    m_historyDialog->activateWindow();
}

void PlayerControl::addMenuAction(QAction *action)
{
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(action);
    m_menuActions.append(action);
}

void PlayerControl::showStatus(const PlayerStatus &status)
{
    updatePlayButton();
    if (stateInfo(status.state).transport == TransportStatus::Stopped) { // at rest: no media held
        m_position->setValue(0);
        m_position->setEnabled(false);
        m_picture->setHasVideo(false);
    }
    refreshStatusLine();
    emit statusChanged(status);
}

QString PlayerControl::statusText() const
{
    return statusText(status());
}

QString PlayerControl::statusText(const PlayerStatus &s)
{
    return describeStatus(s, false);
}

QString PlayerControl::statusLineText() const
{
    return statusLine(status(), stationCaption());
}

void PlayerControl::refreshStatusLine()
{
    const PlayerStatus s = status();
    const QString caption = stationCaption();
    QString line = statusLineText();
    QString spoken = spokenStatusLine(s, caption);
    QString toolTip = statusToolTip(s, caption);
    QString description = statusLineDescription(s, caption);
    const QStringList remarks = m_model->remarks();
    for (const QString &remark : remarks) {
        toolTip += u'\n' + remark;
        description += QStringLiteral(". ") + remark;
    }
    if (s.state == PlaybackState::Idle && !remarks.isEmpty()) { // nothing else to say yet
        line += QStringLiteral(" — ") + remarks.join(QStringLiteral(" — "));
        spoken += QStringLiteral(" — ") + remarks.join(QStringLiteral(" — "));
    }
    if (m_statusLine->display(line, spoken, toolTip, description))
        emit statusAnnounced(spoken);
}

QSize PlayerControl::sizeHint() const
{
    return settings().pixelSize();
}

void PlayerControl::togglePlay()
{
    m_model->togglePlay();
}

void PlayerControl::ownStop()
{
    m_model->ownStop();
}

void PlayerControl::toggleMute()
{
    m_model->setMuted(!m_model->isMuted());
}

void PlayerControl::updateMuteButton()
{
    const bool muted = m_model->isMuted();
    m_mute->setIcon(icon(muted ? TransportIcon::Muted : TransportIcon::Volume));
    m_mute->setToolTip(playerLabel(muted ? PlayerLabel::Unmute : PlayerLabel::Mute));
    m_mute->setAccessibleName(m_mute->toolTip());
}

void PlayerControl::updatePlayButton()
{
    const PrimaryAction action = primaryAction(status().state);
    m_playPause->setIcon(icon(action.icon));
    if (m_playPause->toolTip() != action.name) {
        m_playPause->setToolTip(action.name);
        m_playPause->setAccessibleName(action.name);
    }
}

void PlayerControl::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.setLayoutDirection(Qt::RightToLeft);
    const PrimaryAction primary = primaryAction(status().state);
    QAction *first = menu.addAction(primary.name, this, &PlayerControl::togglePlay);
    first->setEnabled(primary.control != PrimaryControl::None
                      && (primary.control != PrimaryControl::Open || !URL().isEmpty()));
    if (primary.control != PrimaryControl::Stop) // while opening, the first item stops already
        menu.addAction(playerLabel(PlayerLabel::Stop), this, &PlayerControl::ownStop);
    QAction *mute = menu.addAction(playerLabel(PlayerLabel::Mute), this, &PlayerControl::toggleMute);
    mute->setCheckable(true);
    mute->setChecked(m_model->isMuted());
    const PlayerStatus s = status();
    if (s.state == PlaybackState::NoAddress && !s.configFile.isEmpty()) {
        // The file a new listener has to write: its path to paste, its folder to open.
        const QString file = s.configFile;
        menu.addSeparator();
        menu.addAction(playerLabel(PlayerLabel::CopyPath), this,
                       [file] { QGuiApplication::clipboard()->setText(file); });
        menu.addAction(playerLabel(PlayerLabel::OpenFolder), this,
                       [file] { QDesktopServices::openUrl(QUrl::fromLocalFile(nearestFolder(file))); });
    }
    menu.addSeparator();
    menu.addAction(m_historyAction);
    m_menuActions.removeAll(nullptr);
    if (!m_menuActions.isEmpty()) {
        menu.addSeparator();
        for (QAction *action : std::as_const(m_menuActions))
            menu.addAction(action);
    }
    emit contextMenuOpening(&menu);
    menu.exec(event->globalPos());
}

} // namespace lumora
