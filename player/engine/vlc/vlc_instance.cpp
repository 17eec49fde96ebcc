#include "vlc_instance.h"
#include "vlc_plugin_preload.h"

#include "lumora_version.h"
#include "player/common/player_failure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QThread>
#include <vlc/vlc.h>

#include <cstdio>

Q_LOGGING_CATEGORY(lcVlc, "lumora.player.vlc", QtWarningMsg)

namespace lumora {

namespace {

const char *const kInstallHint =
    "Install the Debian packages libvlc5, vlc-plugin-base and libvlc-bin "
    "(apt-get install libvlc5 vlc-plugin-base libvlc-bin).";

// libVLC's log, on whichever libVLC thread logs, into Qt's logging (which is thread-safe).
// Nothing here calls back into libVLC.
void logToQt(void *, int level, const libvlc_log_t *, const char *format, va_list args)
{
    char text[1024];
    std::vsnprintf(text, sizeof text, format, args);
    switch (level) {
    case LIBVLC_ERROR:
        qCInfo(lcVlc, "%s", text); // stream errors are expected and shown in the status line
        break;
    case LIBVLC_WARNING:
    case LIBVLC_NOTICE:
    case LIBVLC_DEBUG:
    default:
        qCDebug(lcVlc, "%s", text);
        break;
    }
}

[[noreturn]] void refuse(const QString &what)
{
    throw PlayerFailure(PlayerFailure::Kind::CannotCreate,
                       what + u' ' + QCoreApplication::translate("lumora::VlcInstance", kInstallHint));
}

} // namespace

QStringList VlcInstance::defaultArguments()
{
    return {
        // No Lua: playlist and extension scripts would fetch and run remote content of their own.
        QStringLiteral("--no-lua"),
        // Subtitles are never looked for next to a stream, and no title is drawn over video.
        QStringLiteral("--no-sub-autodetect-file"),
        QStringLiteral("--no-video-title-show"),
        // A snapshot taken is not shown over the picture.
        QStringLiteral("--no-snapshot-preview"),
        // libVLC's statistics stay on, as they are by default (no --no-stats): the count of
        // audio blocks an output has played is how a player knows that sound is really heard.
        // Even loudness, when a listener asks for it: libVLC's compressor on the sound's mean
        // level (RMS), everything above -40 dB brought 20 to 1 towards it and raised by 15 dB.
        // A station mastered 15 dB below another then plays within about 1 dB of it, and a
        // loud one keeps its level.
        QStringLiteral("--compressor-rms-peak=0"),
        QStringLiteral("--compressor-threshold=-40"),
        QStringLiteral("--compressor-ratio=20"),
        QStringLiteral("--compressor-makeup-gain=15"),
    };
}

std::shared_ptr<VlcInstance> VlcInstance::create(const QStringList &arguments)
{
    QList<QByteArray> storage;
    std::vector<const char *> argv;
    for (const QString &a : arguments) {
        storage.append(a.toUtf8());
        argv.push_back(storage.last().constData());
    }
    QElapsedTimer clock;
    clock.start();
    libvlc_instance_t *instance = libvlc_new(int(argv.size()), argv.data());
    if (!instance) {
        const char *why = libvlc_errmsg();
        refuse(QCoreApplication::translate("lumora::VlcInstance", "libVLC could not be started%1.")
                   .arg(why ? QStringLiteral(" (%1)").arg(QString::fromUtf8(why)) : QString()));
    }
    auto owner = std::shared_ptr<VlcInstance>(new VlcInstance(instance));
    libvlc_log_set(instance, logToQt, nullptr);

    // Without plugins libVLC starts but cannot play anything.
    libvlc_audio_output_t *outputs = libvlc_audio_output_list_get(instance);
    if (!outputs)
        refuse(QCoreApplication::translate("lumora::VlcInstance", "libVLC has no plugins."));
    libvlc_audio_output_list_release(outputs);

#ifdef LUMORA_VLC_PLUGIN_CACHE
    if (!QFile::exists(QStringLiteral(LUMORA_VLC_PLUGIN_CACHE)))
        qCWarning(lcVlc) << "libVLC's plugin cache" << LUMORA_VLC_PLUGIN_CACHE
                         << "is missing; players start slowly. Install libvlc-bin.";
#endif
    owner->m_preload = std::make_unique<VlcPluginPreload>(VlcPluginPreload::defaultFolder());
    libvlc_set_user_agent(instance, "Lumora", kUserAgent);
    qCDebug(lcVlc) << "libVLC" << libvlc_get_version() << "started in" << clock.elapsed() << "ms";
    return owner;
}

std::shared_ptr<VlcInstance> VlcInstance::shared()
{
    Q_ASSERT(!QCoreApplication::instance()
             || QThread::currentThread() == QCoreApplication::instance()->thread());
    // Not an owner: the players own the instance, this only finds it while one exists.
    static std::weak_ptr<VlcInstance> current;
    std::shared_ptr<VlcInstance> instance = current.lock();
    if (!instance) {
        instance = create(defaultArguments());
        current = instance;
    }
    return instance;
}

VlcInstance::VlcInstance(libvlc_instance_t *instance) : m_instance(instance) {}

VlcInstance::~VlcInstance()
{
    libvlc_log_unset(m_instance);
    libvlc_release(m_instance);
}

} // namespace lumora
