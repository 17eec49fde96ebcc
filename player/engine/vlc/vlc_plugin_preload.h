#pragma once

#include <QString>
#include <thread>
#include <vector>

namespace lumora {

// Loads, on a thread of its own, the libVLC plugins that are slow to load and that a first
// station needs: libVLC loads a plugin when a media first uses it, on the way to its first
// sound, and the FFmpeg decoder (WMA of mms stations, RealAudio) takes 20 to 30 ms of dynamic
// linking alone. Loaded here while the listener looks at a page, libVLC's own loading finds
// them in memory. A plugin that is missing or does not load is skipped: libVLC says so itself
// when a media needs it. The handles are let go once the thread is done.
class VlcPluginPreload {
public:
    // Plugins in folder (libVLC's plugin folder).
    explicit VlcPluginPreload(const QString &folder);
    ~VlcPluginPreload();
    VlcPluginPreload(const VlcPluginPreload &) = delete;
    VlcPluginPreload &operator=(const VlcPluginPreload &) = delete;

    // The plugins loaded, relative to the folder, and the folder libVLC loads them from.
    static const std::vector<const char *> &plugins();
    static QString defaultFolder();

private:
    std::vector<void *> m_handles; // the thread's alone until it is joined
    std::thread m_thread;
};

} // namespace lumora
