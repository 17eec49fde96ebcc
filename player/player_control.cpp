#include "player_control.h"

#include "endpoint_table.h"
#include "mpris/mpris_presence.h"
#include "player_look.h"
#include "player_failure.h"
#include "toolbar_navigation.h"
#include "transport_icons.h"
#include "vlc_backend.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
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

// The status line: up to two lines of plain text (a stream's title is network text and never
// markup), wrapped at spaces and cut with an ellipsis where it is longer, the whole text in its
// tool tip. A screen reader hears its accessible name, which changes, and is announced, only when
// what it says really changes.
class StatusLine : public QLabel {
public:
    explicit StatusLine(QWidget *parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
    }

    // True when the spoken text changed and was announced.
    bool display(const QString &text, const QString &spoken, const QString &toolTip)
    {
        if (text != m_text) {
            m_text = text;
            fit();
        }
        if (toolTip != this->toolTip())
            setToolTip(toolTip);
        if (spoken == accessibleName())
            return false;
        setAccessibleName(spoken); // tells screen readers (QAccessible::NameChanged)
        return true;
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        fit();
    }

private:
    void fit()
    {
        const int width = qMax(0, contentsRect().width() - 4);
        const QFontMetrics metrics = fontMetrics();
        QString shown = m_text;
        // Shorten until the wrapped text fits the line's height.
        for (int budget = 2 * width; budget > 0; budget -= metrics.averageCharWidth() * 4) {
            const QRect needed = metrics.boundingRect(QRect(0, 0, width, 10000),
                                                      Qt::TextWordWrap, shown);
            if (needed.height() <= contentsRect().height())
                break;
            shown = metrics.elidedText(m_text, Qt::ElideRight, budget);
        }
        setText(shown);
    }

    QString m_text;
};

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

// Unicode's directional marks and isolates.
constexpr QChar kRightToLeftMark(0x200f);
constexpr QChar kLeftToRightIsolate(0x2066);
constexpr QChar kFirstStrongIsolate(0x2068);
constexpr QChar kPopIsolate(0x2069);

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

QIcon icon(TransportIcon kind)
{
    return transportIcon(kind, QColor(kPlayerLook.icon), QColor(kPlayerLook.disabled));
}

// Why a station could not be opened or was lost, and what the listener can do.
struct FailureText {
    OpenFailure failure;
    const char8_t *reason; // ServerError: %1 is the server's status code
    const char8_t *advice;
};
constexpr FailureText kFailureTexts[] = {
    {OpenFailure::HostNotFound, u8"اسم الخادم غير معروف",
     u8"تحقّق من اتصالك بالإنترنت ومن عنوان المحطة في ملف الإعداد"},
    {OpenFailure::Refused, u8"الخادم رفض الاتصال", u8"ربما توقّفت المحطة عن البث؛ حاول لاحقًا"},
    {OpenFailure::NoAnswer, u8"الخادم لا يجيب", u8"تحقّق من اتصالك بالإنترنت أو حاول لاحقًا"},
    {OpenFailure::NotFound, u8"المحطة غير موجودة على الخادم", u8"ربما تغيّر عنوانها"},
    {OpenFailure::ServerError, u8"خطأ في الخادم (%1)", u8"حاول لاحقًا"},
    {OpenFailure::NotAStream, u8"ما أرسله الخادم ليس بثًّا صوتيًا", u8"ربما تغيّر عنوان المحطة"},
};

// "reason. advice." for a known failure, empty for none.
QString failureText(const PlayerStatus &s)
{
    for (const FailureText &t : kFailureTexts)
        if (t.failure == s.failure) {
            QString reason = QString::fromUtf8(t.reason);
            if (s.failure == OpenFailure::ServerError)
                reason = reason.arg(s.serverStatus);
            return reason + QStringLiteral(". ") + QString::fromUtf8(t.advice) + u'.';
        }
    return {};
}

QString withReason(const QString &what, const PlayerStatus &s)
{
    const QString why = failureText(s);
    return why.isEmpty() ? what : what + QStringLiteral(": ") + why;
}

// States in which the status line names the station: it is being opened, heard or it failed.
bool namesStation(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Opening:
    case PlaybackState::Buffering:
    case PlaybackState::Playing:
    case PlaybackState::Paused:
    case PlaybackState::Reconnecting:
    case PlaybackState::CannotOpen:
    case PlaybackState::Lost:
    case PlaybackState::NoSoundDevice:
        return true;
    default:
        return false;
    }
}

// What the play button and the first item of the context menu do in a state: never the
// opposite of what they are called.
struct PrimaryAction {
    TransportIcon icon;
    const char8_t *name;
};
PrimaryAction primaryAction(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Playing:
    case PlaybackState::Buffering:
        return {TransportIcon::Pause, u8"إيقاف مؤقت"};
    case PlaybackState::Opening:
    case PlaybackState::Reconnecting:
        return {TransportIcon::Stop, u8"إيقاف"};
    default:
        return {TransportIcon::Play, u8"تشغيل"};
    }
}

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

    static const bool accessibleToolbar = (QAccessible::installFactory(toolbarAccessible), true);
    Q_UNUSED(accessibleToolbar);
    setAccessibleName(tr("مشغّل الإذاعة"));

    m_picture = new VideoSurface(this);
    m_picture->setObjectName(QStringLiteral("pictureArea"));
    m_picture->setAccessibleName(tr("منطقة الصورة"));
    column->addWidget(m_picture, 1);

    m_controls = new PlayerToolbar(this);
    m_controls->setObjectName(QStringLiteral("playerControls"));
    m_controls->setAccessibleName(tr("أدوات التحكم في المشغّل"));
    m_controls->setAttribute(Qt::WA_StyledBackground);
    m_controls->setStyleSheet(controlsStyleSheet());
    auto *controlsColumn = new QVBoxLayout(m_controls);
    controlsColumn->setContentsMargins(2, 0, 2, 0);
    controlsColumn->setSpacing(0);

    m_position = new QSlider(Qt::Horizontal, m_controls);
    m_position->setObjectName(QStringLiteral("positionBar"));
    m_position->setRange(0, kPositionSteps);
    m_position->setFixedHeight(16);
    m_position->setEnabled(false); // until a stream says it can seek; live radio never does
    m_position->setToolTip(tr("موضع التشغيل"));
    m_position->setAccessibleName(m_position->toolTip());
    connect(m_position, &QSlider::sliderReleased, this,
            [this] { m_backend->seek(double(m_position->value()) / kPositionSteps); });
    controlsColumn->addWidget(m_position);

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
    m_stop->setToolTip(tr("إيقاف"));
    m_stop->setAccessibleName(m_stop->toolTip());
    connect(m_stop, &QToolButton::clicked, this, &PlayerControl::ownStop);
    m_mute = makeButton("muteButton");
    connect(m_mute, &QToolButton::clicked, this, &PlayerControl::toggleMute);
    m_volume = new QSlider(Qt::Horizontal, m_controls);
    m_volume->setObjectName(QStringLiteral("volumeSlider"));
    m_volume->setRange(0, 100);
    m_volume->setFixedWidth(72);
    m_volume->setToolTip(tr("مستوى الصوت"));
    m_volume->setAccessibleName(m_volume->toolTip());
    m_volume->setAccessibleDescription(tr("السهمان أعلى وأسفل يغيّران المستوى"));
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
    m_statusLine->setFixedHeight(30);
    m_statusLine->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    m_statusLine->setAccessibleDescription(tr("حالة المشغّل"));
    QFont small = m_statusLine->font();
    small.setPixelSize(12);
    m_statusLine->setFont(small);
    controlsColumn->addWidget(m_statusLine);

    // One stop in the focus order; the arrow keys move along the row.
    new ToolbarNavigation(m_controls, {m_playPause, m_stop, m_mute, m_volume, m_position});

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
        throw PlayerFailure(PlayerFailure::Kind::Failed,
                           tr("The player could not stop: %1").arg(m_backend->lastError()));
}

void PlayerControl::setURL(const QString &url)
{
    m_url = url;
    if (!m_settings.autoStart)
        return;
    m_backend->setVideoWindow(m_picture->videoWindow());
    if (!m_backend->open(url))
        throw PlayerFailure(PlayerFailure::Kind::Failed,
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
    refreshStatusLine();
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
    updatePlayButton();
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
    return describeStatus(s, false);
}

QString PlayerControl::describeStatus(const PlayerStatus &s, bool forDisplay)
{
    // On the Arabic line, text of another direction (a Latin title, a file path) is set apart
    // so that its neutral characters (a path's leading "/") stay where they belong.
    const auto isolated = [forDisplay](const QString &text, QChar isolate) {
        return forDisplay ? isolate + text + kPopIsolate : text;
    };
    switch (s.state) {
    case PlaybackState::Idle: return tr("جاهز");
    case PlaybackState::Opening: return tr("جارٍ الفتح…");
    case PlaybackState::Buffering: return tr("جارٍ التخزين المؤقت %1٪").arg(s.bufferPercent);
    case PlaybackState::Playing:
        return s.title.isEmpty() ? tr("قيد التشغيل")
                                 : tr("قيد التشغيل: %1").arg(isolated(s.title, kFirstStrongIsolate));
    case PlaybackState::Paused: return tr("إيقاف مؤقت");
    case PlaybackState::Stopped: return tr("متوقف");
    case PlaybackState::Ended: return tr("انتهى");
    case PlaybackState::CannotOpen:
        return s.failure == OpenFailure::None ? tr("تعذّر فتح العنوان")
                                              : withReason(tr("تعذّر فتح المحطة"), s);
    case PlaybackState::NoAddress: {
        // The first thing a new user meets: where the file is that sets the stations up.
        const QString file = EndpointTable::userFile();
        const QString shown = isolated(file, kLeftToRightIsolate);
        return QFileInfo::exists(file) ? tr("عنوان هذه المحطة غير مُعَدّ في الملف %1").arg(shown)
                                       : tr("لم تُعَدّ المحطات بعد: أنشئ الملف %1").arg(shown);
    }
    case PlaybackState::Reconnecting: return tr("انقطع البث، جارٍ إعادة الاتصال (المحاولة %1)…").arg(s.attempt);
    case PlaybackState::Lost: return withReason(tr("انقطع البث وتعذّرت إعادة الاتصال"), s);
    case PlaybackState::NoSoundDevice:
        return tr("لا يوجد جهاز صوت: البث يعمل ولا يُسمع. صِل سمّاعة أو شغّل خادم الصوت، ثم شغّل المحطة من جديد.");
    }
    return {};
}

QString PlayerControl::statusLineText() const
{
    return lineFor(m_status);
}

// The line reads right to left whatever it begins with (a station caption may be Latin).
QString PlayerControl::lineFor(const PlayerStatus &status) const
{
    QString line = kRightToLeftMark;
    if (!m_stationCaption.isEmpty() && namesStation(status.state))
        line += kFirstStrongIsolate + m_stationCaption + kPopIsolate + QStringLiteral(" — ");
    return line + describeStatus(status, true);
}

// What a screen reader announces: the status line without the buffering percentage, which
// changes many times a second and would drown what matters.
QString PlayerControl::spokenStatus() const
{
    if (m_status.state != PlaybackState::Buffering)
        return statusLineText();
    PlayerStatus opening = m_status;
    opening.state = PlaybackState::Opening;
    return lineFor(opening);
}

QString PlayerControl::statusToolTip() const
{
    const QString line = statusLineText();
    if (m_status.state != PlaybackState::NoAddress)
        return line;
    return line + u'\n'
        + tr("المفاتيح الناقصة: %1").arg(m_status.missingKeys.join(QStringLiteral(", "))) + u'\n'
        + tr("لكتابة الملف بقالب مشروح نفّذ الأمر: lumora-catalogue init") + u'\n'
        + tr("ثم املأ المفاتيح وأعد تشغيل Lumora.") + u'\n'
        + tr("لمعرفة ما ينقص الملف وما فيه من أخطاء: lumora-catalogue check");
}

void PlayerControl::refreshStatusLine()
{
    const QString spoken = spokenStatus();
    if (m_statusLine->display(statusLineText(), spoken, statusToolTip()))
        emit statusAnnounced(spoken);
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
    case PlaybackState::NoAddress:
        break; // the station shown has no address; the one before it must not start instead
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
    m_mute->setIcon(icon(m_muted ? TransportIcon::Muted : TransportIcon::Volume));
    m_mute->setToolTip(m_muted ? tr("إلغاء كتم الصوت") : tr("كتم الصوت"));
    m_mute->setAccessibleName(m_mute->toolTip());
}

void PlayerControl::updatePlayButton()
{
    const PrimaryAction action = primaryAction(m_status.state);
    m_playPause->setIcon(icon(action.icon));
    const QString name = QString::fromUtf8(action.name);
    if (m_playPause->toolTip() != name) {
        m_playPause->setToolTip(name);
        m_playPause->setAccessibleName(name);
    }
}

void PlayerControl::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    menu.setLayoutDirection(Qt::RightToLeft);
    const PrimaryAction primary = primaryAction(m_status.state);
    QAction *first = menu.addAction(QString::fromUtf8(primary.name), this, &PlayerControl::togglePlay);
    first->setEnabled(primary.icon != TransportIcon::Play
                      || (!m_url.isEmpty() && m_status.state != PlaybackState::NoAddress));
    if (primary.icon != TransportIcon::Stop) // while opening, the first item stops already
        menu.addAction(tr("إيقاف"), this, &PlayerControl::ownStop);
    QAction *mute = menu.addAction(tr("كتم الصوت"), this, &PlayerControl::toggleMute);
    mute->setCheckable(true);
    mute->setChecked(m_muted);
    menu.exec(event->globalPos());
}

} // namespace lumora
