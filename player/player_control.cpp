#include "player_control.h"

#include "mpris/mpris_presence.h"
#include "player_errors.h"
#include "runtime_error.h"
#include "vlc_backend.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace lumora {

// The picture area. libVLC draws video into its native window (a child window of the
// player's own, as windowlessVideo false asks); without video it is a dark panel.
class VideoSurface : public QWidget {
public:
    explicit VideoSurface(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (canEmbed()) {
            setAttribute(Qt::WA_NativeWindow);
            setAttribute(Qt::WA_DontCreateNativeAncestors);
        }
    }

    // libVLC can draw only into an X11 window; on other platforms (offscreen in tests)
    // there is no picture.
    static bool canEmbed() { return QGuiApplication::platformName() == u"xcb"; }
    WId videoWindow() { return canEmbed() ? winId() : 0; }

    void setHasVideo(bool hasVideo)
    {
        m_hasVideo = hasVideo;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (m_hasVideo && canEmbed())
            return; // libVLC's window covers the area
        QPainter p(this);
        p.fillRect(rect(), QColor(0x10, 0x14, 0x1c));
    }

private:
    bool m_hasVideo = false;
};

// The status line: one line, cut with an ellipsis where the text is longer than the line,
// the whole text in its tool tip.
class StatusLine : public QLabel {
public:
    using QLabel::QLabel;

    void setFullText(const QString &text)
    {
        m_text = text;
        setToolTip(text);
        fit();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit() { setText(fontMetrics().elidedText(m_text, Qt::ElideRight, qMax(0, width() - 4))); }

    QString m_text;
};

namespace {

constexpr int kPositionSteps = 1000;

} // namespace

PlayerControl::PlayerControl(QWidget *parent)
    : PlayerControl(PlayerSettings::stored(), std::make_unique<VlcBackend>(), parent)
{
}

PlayerControl::PlayerControl(const PlayerSettings &settings, std::unique_ptr<MediaBackend> backend,
                             QWidget *parent)
    : QWidget(parent), m_settings(settings), m_backend(std::move(backend))
{
    setObjectName(QStringLiteral("WindowsMediaPlayer1"));
    build();
    applySettings();

    connect(m_backend.get(), &MediaBackend::statusChanged, this, &PlayerControl::setStatus);
    connect(m_backend.get(), &MediaBackend::positionChanged, this, [this](double f) {
        if (!m_position->isSliderDown())
            m_position->setValue(int(f * kPositionSteps));
    });
    connect(m_backend.get(), &MediaBackend::seekableChanged, m_position, &QWidget::setEnabled);
    connect(m_backend.get(), &MediaBackend::videoChanged, this,
            [this](bool hasVideo) { m_picture->setHasVideo(hasVideo); });
    setStatus(m_status);
}

PlayerControl::~PlayerControl()
{
    // The engine goes first, while the picture window it may draw into still exists.
    m_backend->disconnect(this);
    m_backend.reset();
}

void PlayerControl::build()
{
    setLayoutDirection(Qt::RightToLeft);
    setAutoFillBackground(true);
    resize(m_settings.pixelSize());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_picture = new VideoSurface(this);
    m_picture->setObjectName(QStringLiteral("pictureArea"));
    column->addWidget(m_picture, 1);

    m_controls = new QWidget(this);
    auto *controlsColumn = new QVBoxLayout(m_controls);
    controlsColumn->setContentsMargins(2, 0, 2, 0);
    controlsColumn->setSpacing(0);

    m_position = new QSlider(Qt::Horizontal, m_controls);
    m_position->setObjectName(QStringLiteral("positionBar"));
    m_position->setRange(0, kPositionSteps);
    m_position->setFixedHeight(14);
    m_position->setEnabled(false); // until a stream says it can seek; live radio never does
    m_position->setToolTip(tr("موضع التشغيل"));
    connect(m_position, &QSlider::sliderReleased, this,
            [this] { m_backend->seek(double(m_position->value()) / kPositionSteps); });
    controlsColumn->addWidget(m_position);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(2);
    auto makeButton = [this](const char *name) {
        auto *b = new QToolButton(m_controls);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoRaise(true);
        b->setFixedSize(24, 22);
        b->setIconSize(QSize(14, 14));
        return b;
    };
    m_playPause = makeButton("playPauseButton");
    connect(m_playPause, &QToolButton::clicked, this, &PlayerControl::togglePlay);
    m_stop = makeButton("stopButton");
    m_stop->setIcon(style()->standardIcon(QStyle::SP_MediaStop));
    m_stop->setToolTip(tr("إيقاف"));
    connect(m_stop, &QToolButton::clicked, this, &PlayerControl::ownStop);
    m_mute = makeButton("muteButton");
    connect(m_mute, &QToolButton::clicked, this, &PlayerControl::toggleMute);
    m_volume = new QSlider(Qt::Horizontal, m_controls);
    m_volume->setObjectName(QStringLiteral("volumeSlider"));
    m_volume->setRange(0, 100);
    m_volume->setFixedWidth(72);
    m_volume->setToolTip(tr("مستوى الصوت"));
    connect(m_volume, &QSlider::valueChanged, this, [this](int v) { m_backend->setVolume(v); });
    connect(m_volume, &QSlider::valueChanged, this, &PlayerControl::volumeChanged);

    buttons->addWidget(m_playPause);
    buttons->addWidget(m_stop);
    buttons->addStretch(1);
    buttons->addWidget(m_mute);
    buttons->addWidget(m_volume);
    controlsColumn->addLayout(buttons);

    m_statusLine = new StatusLine(m_controls);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setFixedHeight(16);
    m_statusLine->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    QFont small = m_statusLine->font();
    small.setPixelSize(11);
    m_statusLine->setFont(small);
    controlsColumn->addWidget(m_statusLine);

    column->addWidget(m_controls);
    column->activate(); // children at their places before the player is first shown
}

void PlayerControl::applySettings()
{
    const PlayerSettings &s = m_settings;
    m_backend->configure(s);

    m_volume->blockSignals(true);
    m_volume->setValue(qBound(0, s.volume, 100));
    m_volume->blockSignals(false);
    m_muted = s.mute;
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
    if (!m_backend->stop())
        throw RuntimeError(PlayerError::Failed,
                           tr("The player could not stop: %1").arg(m_backend->lastError()));
}

void PlayerControl::setURL(const QString &url)
{
    m_url = url;
    if (!m_settings.autoStart)
        return;
    m_backend->setVideoWindow(m_picture->videoWindow());
    if (!m_backend->open(url))
        throw RuntimeError(PlayerError::Failed,
                           tr("The player could not take the address: %1").arg(m_backend->lastError()));
}

void PlayerControl::showNoAddress(const QStringList &missingKeys)
{
    PlayerStatus s;
    s.state = PlaybackState::NoAddress;
    s.missingKeys = missingKeys;
    setStatus(s);
}

void PlayerControl::setIdentity(const QString &pageName, const QString &pageTitle)
{
    m_pageName = pageName;
    m_pageTitle = pageTitle;
    if (!m_mpris)
        m_mpris = new MprisPresence(this);
}

void PlayerControl::setStationCaption(const QString &caption)
{
    m_stationCaption = caption;
    emit stationCaptionChanged(caption);
}

int PlayerControl::volume() const
{
    return m_volume->value();
}

void PlayerControl::setVolume(int volume)
{
    m_volume->setValue(qBound(0, volume, 100)); // the slider tells the engine
}

void PlayerControl::setStatus(const PlayerStatus &status)
{
    m_status = status;
    const bool active = status.state == PlaybackState::Playing
        || status.state == PlaybackState::Buffering || status.state == PlaybackState::Opening
        || status.state == PlaybackState::Reconnecting;
    m_playPause->setIcon(style()->standardIcon(active ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
    m_playPause->setToolTip(active ? tr("إيقاف مؤقت") : tr("تشغيل"));
    if (!active && status.state != PlaybackState::Paused) {
        m_position->setValue(0);
        m_position->setEnabled(false);
        m_picture->setHasVideo(false);
    }
    refreshStatusLine();
    emit statusChanged(status);
}

QString PlayerControl::statusText() const
{
    return statusText(m_status);
}

QString PlayerControl::statusText(const PlayerStatus &s)
{
    switch (s.state) {
    case PlaybackState::Idle: return tr("جاهز");
    case PlaybackState::Opening: return tr("جارٍ الفتح…");
    case PlaybackState::Buffering: return tr("جارٍ التخزين المؤقت %1٪").arg(s.bufferPercent);
    case PlaybackState::Playing:
        return s.title.isEmpty() ? tr("قيد التشغيل") : tr("قيد التشغيل: %1").arg(s.title);
    case PlaybackState::Paused: return tr("إيقاف مؤقت");
    case PlaybackState::Stopped: return tr("متوقف");
    case PlaybackState::Ended: return tr("انتهى");
    case PlaybackState::CannotOpen: return tr("تعذّر فتح العنوان");
    case PlaybackState::NoAddress:
        return tr("لا يوجد عنوان مُعَدّ (%1)").arg(s.missingKeys.join(QStringLiteral(", ")));
    case PlaybackState::Reconnecting: return tr("انقطع البث، جارٍ إعادة الاتصال (المحاولة %1)…").arg(s.attempt);
    case PlaybackState::Lost: return tr("انقطع البث وتعذّرت إعادة الاتصال");
    case PlaybackState::NoSoundDevice: return tr("لا يوجد جهاز صوت");
    }
    return {};
}

void PlayerControl::refreshStatusLine()
{
    m_statusLine->setFullText(statusText());
}

QSize PlayerControl::sizeHint() const
{
    return m_settings.pixelSize();
}

void PlayerControl::togglePlay()
{
    switch (m_status.state) {
    case PlaybackState::Playing:
    case PlaybackState::Buffering:
        m_backend->pause();
        break;
    case PlaybackState::Opening:
    case PlaybackState::Reconnecting:
        m_backend->stop();
        break;
    case PlaybackState::Paused:
        m_backend->resume();
        break;
    default:
        if (!m_url.isEmpty()) {
            m_backend->setVideoWindow(m_picture->videoWindow());
            m_backend->open(m_url);
        }
        break;
    }
}

void PlayerControl::ownStop()
{
    m_backend->stop();
}

void PlayerControl::toggleMute()
{
    m_muted = !m_muted;
    m_backend->setMuted(m_muted);
    updateMuteButton();
}

void PlayerControl::updateMuteButton()
{
    m_mute->setIcon(style()->standardIcon(m_muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    m_mute->setToolTip(m_muted ? tr("إلغاء كتم الصوت") : tr("كتم الصوت"));
}

void PlayerControl::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.setLayoutDirection(Qt::RightToLeft);
    const bool active = m_status.state == PlaybackState::Playing
        || m_status.state == PlaybackState::Buffering;
    menu.addAction(active ? tr("إيقاف مؤقت") : tr("تشغيل"), this, &PlayerControl::togglePlay)
        ->setEnabled(active || !m_url.isEmpty());
    menu.addAction(tr("إيقاف"), this, &PlayerControl::ownStop);
    QAction *mute = menu.addAction(tr("كتم الصوت"), this, &PlayerControl::toggleMute);
    mute->setCheckable(true);
    mute->setChecked(m_muted);
    menu.exec(event->globalPos());
}

} // namespace lumora
