#pragma once

// A stand-in for libVLC that records what the player asks of it, and a player on it.

#include "player/common/media_backend.h"
#include "player/widget/player_control.h"

#include <QPointer>
#include <QStringList>
#include <memory>

namespace lumora::test {

class RecordingBackend : public MediaBackend {
public:
    QStringList calls;       // "stop", "open:<address>", "pause", "volume:70", ...
    PlayerSettings configured;

    void configure(const PlayerSettings &s) override
    {
        configured = s;
        calls << QStringLiteral("configure");
    }
    void stop() override
    {
        calls << QStringLiteral("stop");
        publish(PlaybackState::Stopped);
    }
    void open(const QString &address) override
    {
        calls << QStringLiteral("open:") + address;
        publish(PlaybackState::Opening);
    }
    void pause() override { calls << QStringLiteral("pause"); }
    void resume() override { calls << QStringLiteral("resume"); }
    void setVolume(int v) override { calls << QStringLiteral("volume:%1").arg(v); }
    void setMuted(bool m) override { calls << QStringLiteral("mute:%1").arg(int(m)); }
    void seek(double f) override { calls << QStringLiteral("seek:%1").arg(f); }
    void setVideoWindow(WId) override {}

    // The calls after creation (configure and the initial volume and mute).
    QStringList actions() const
    {
        QStringList out;
        for (const QString &c : calls)
            if (c.startsWith(u"stop") || c.startsWith(u"open:"))
                out << c;
        return out;
    }
    void publish(PlaybackState state, int percent = 0, const QString &title = {})
    {
        PlayerStatus s;
        s.state = state;
        s.bufferPercent = percent;
        s.title = title;
        emit statusChanged(s);
    }
};

// A PlayerControl on a RecordingBackend for a test to drive. The player goes with this
// object, unless a parent widget given to it went first.
struct RecordedPlayer {
    explicit RecordedPlayer(const PlayerSettings &settings = PlayerSettings::stored(),
                            QWidget *parent = nullptr)
    {
        auto b = std::make_unique<RecordingBackend>();
        backend = b.get();
        player = new PlayerControl(settings, std::move(b), parent);
    }
    ~RecordedPlayer() { delete player.data(); }
    RecordedPlayer(const RecordedPlayer &) = delete;
    RecordedPlayer &operator=(const RecordedPlayer &) = delete;

    QPointer<PlayerControl> player;
    RecordingBackend *backend = nullptr;
};

} // namespace lumora::test
