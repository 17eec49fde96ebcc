#include "vlc_plugin_preload.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QtGlobal>

#include <dlfcn.h>

Q_DECLARE_LOGGING_CATEGORY(lcVlc)

namespace lumora {

const std::vector<const char *> &VlcPluginPreload::plugins()
{
    static const std::vector<const char *> list = {
        "codec/libavcodec_plugin.so",      // FFmpeg's decoders: WMA, RealAudio, AAC where faad declines
        "meta_engine/libtaglib_plugin.so", // the tag reader libVLC runs on every media it opens
    };
    return list;
}

QString VlcPluginPreload::defaultFolder()
{
    // libVLC takes the first folder of VLC_PLUGIN_PATH before its own.
    const QString configured = qEnvironmentVariable("VLC_PLUGIN_PATH").section(u':', 0, 0);
    return configured.isEmpty() ? QStringLiteral(LUMORA_VLC_PLUGIN_DIR) : configured;
}

VlcPluginPreload::VlcPluginPreload(const QString &folder)
{
    std::vector<QByteArray> paths;
    for (const char *plugin : plugins())
        paths.push_back(QFile::encodeName(folder + u'/' + QLatin1StringView(plugin)));
    m_thread = std::thread([this, paths = std::move(paths)] {
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray &path : paths)
            if (void *handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL))
                m_handles.push_back(handle);
        qCDebug(lcVlc) << "plugins loaded ahead:" << m_handles.size() << "of" << paths.size() << "in" << clock.elapsed()
                       << "ms";
    });
}

VlcPluginPreload::~VlcPluginPreload()
{
    m_thread.join();
    for (void *handle : m_handles)
        ::dlclose(handle);
}

} // namespace lumora
