#pragma once

#include <QStringList>
#include <memory>

struct libvlc_instance_t;

namespace lumora {

class VlcPluginPreload;

// The one libVLC instance of the program, shared by every player. It is made when the first
// player is made (not at start-up) and released with the last one.
class VlcInstance {
public:
    // The shared instance, created on first use. Throws lumora::PlayerFailure, saying what to
    // install, when libVLC cannot be started or has no plugins. GUI thread only.
    static std::shared_ptr<VlcInstance> shared();
    // A separate instance with the given command-line arguments (same errors as shared()).
    static std::shared_ptr<VlcInstance> create(const QStringList &arguments);
    // The arguments of the shared instance.
    static QStringList defaultArguments();

    ~VlcInstance();
    VlcInstance(const VlcInstance &) = delete;
    VlcInstance &operator=(const VlcInstance &) = delete;

    libvlc_instance_t *native() const { return m_instance; }

private:
    explicit VlcInstance(libvlc_instance_t *instance);
    libvlc_instance_t *m_instance;
    std::unique_ptr<VlcPluginPreload> m_preload; // let go after the instance
};

} // namespace lumora
