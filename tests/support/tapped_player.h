#pragma once

#include "audio_capture.h"
#include "player/common/player_settings.h"
#include "player/engine/vlc_backend.h"
#include "player/widget/player_control.h"

#include <QList>
#include <memory>

namespace lumora::test {

// A player of the program on real libVLC, its audio captured instead of played, and every
// state it went through.
struct TappedPlayer {
    TappedPlayer()
    {
        auto backend = std::make_unique<VlcBackend>();
        engine = backend.get();
        tap = std::make_unique<AudioCapture>(*backend);
        player = std::make_unique<PlayerControl>(PlayerSettings::stored(), std::move(backend));
        QObject::connect(player.get(), &PlayerControl::statusChanged, player.get(),
                         [this](const PlayerStatus &s) { states << s.state; });
    }
    ~TappedPlayer() { player.reset(); } // the player goes before the tap it feeds

    std::unique_ptr<AudioCapture> tap;
    std::unique_ptr<PlayerControl> player;
    VlcBackend *engine = nullptr;
    QList<PlaybackState> states;
};

} // namespace lumora::test
