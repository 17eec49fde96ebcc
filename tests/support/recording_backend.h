#pragma once

// A stand-in for libVLC that records what the player asks of it.

#include "media_backend.h"

#include <QStringList>

namespace lumora::test {

class RecordingBackend : public MediaBackend {
public:
    QStringList calls;       // "stop", "open:<address>", "pause", "volume:70", ...
    PlayerSettings configured;
    bool failStop = false;
    bool failOpen = false;

    void configure(const PlayerSettings &s) override
    {
        configured = s;
        calls << QStringLiteral("configure");
    }
    bool stop() override
    {
        calls << QStringLiteral("stop");
        if (failStop)
            return false;
        publish(PlaybackState::Stopped);
        return true;
    }
    bool open(const QString &address) override
    {
        calls << QStringLiteral("open:") + address;
        if (failOpen)
            return false;
        publish(PlaybackState::Opening);
        return true;
    }
    void pause() override { calls << QStringLiteral("pause"); }
    void resume() override { calls << QStringLiteral("resume"); }
    void setVolume(int v) override { calls << QStringLiteral("volume:%1").arg(v); }
    void setMuted(bool m) override { calls << QStringLiteral("mute:%1").arg(int(m)); }
    void seek(double f) override { calls << QStringLiteral("seek:%1").arg(f); }
    void setVideoWindow(WId) override {}
    QString lastError() const override { return QStringLiteral("the engine refused"); }

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

} // namespace lumora::test
