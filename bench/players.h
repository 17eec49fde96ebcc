#pragma once

// What the drivers that listen at a sound server need around the players: a PulseAudio
// server of the run's own with null sinks, the station simulator as a process of its own, and
// VLC and mpv started idle (as nobody: VLC refuses root) and told to play an address over
// their control sockets, the way a click reaches a running program.

#include "bench_support.h"
#include "tools/station-sim/station_simulator.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTextStream>
#include <csignal>

namespace lumora::bench {

// A PulseAudio server of the run's own with null sinks, open to every user (the other players
// run as nobody), so that every player plays through a real audio output.
class SoundServer {
public:
    bool start(const QStringList &sinks = {QStringLiteral("bench")})
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                | QFileDevice::ReadOther | QFileDevice::ExeOther
                                                | QFileDevice::ReadGroup | QFileDevice::ExeGroup);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), m_dir.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("PULSE_STATE_PATH"), m_dir.filePath(QStringLiteral("state")));
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{"-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--log-target=stderr",
                         "--log-level=error"};
        for (const QString &sink : sinks)
            args << QStringLiteral("-L") << QStringLiteral("module-null-sink sink_name=") + sink;
        args << QStringLiteral("-L") << QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + socket();
        m_server.start(QStringLiteral("pulseaudio"), args);
        if (!m_server.waitForStarted(5000))
            return false;
        const bool up = waitFor([this] { return QFile::exists(socket()); }, 10000);
        QFile::setPermissions(socket(), QFileDevice::Permissions(0x7777));
        return up;
    }
    ~SoundServer()
    {
        m_server.terminate();
        m_server.waitForFinished(5000);
    }
    QString socket() const { return m_dir.filePath(QStringLiteral("native")); }
    QString address() const { return QStringLiteral("unix:") + socket(); }
    // Streams playing into the sinks now.
    int streams() const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PULSE_SERVER"), address());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("pactl"), {"list", "short", "sink-inputs"});
        p.waitForFinished(5000);
        return int(p.readAllStandardOutput().count('\n'));
    }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
};

// The station simulator as a process of its own, so that its work is not counted; extra
// arguments such as --burst-ms and --link.
class SimulatorProcess {
public:
    bool start(const QString &program, const QStringList &extra = {})
    {
        m_ports = sim::freeLoopbackPorts(65);
        QFile f(m_dir.filePath(QStringLiteral("lumora/endpoints.conf")));
        QDir(m_dir.path()).mkpath(QStringLiteral("lumora"));
        if (m_ports.size() != 65 || !f.open(QIODevice::WriteOnly))
            return false;
        f.write(sim::loopbackConfig(m_ports));
        f.close();
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, QStringList{"--config", configFile()} + extra);
        return m_process.waitForStarted(5000) && waitFor([this] {
            QTcpSocket s;
            s.connectToHost(QStringLiteral("127.0.0.1"), m_ports.first());
            return s.waitForConnected(200);
        }, 20000);
    }
    ~SimulatorProcess()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    QString configHome() const { return m_dir.path(); }
    QString configFile() const { return m_dir.filePath(QStringLiteral("lumora/endpoints.conf")); }
    EndpointTable table() const { return sim::loopbackTable(m_ports); }
    const QList<quint16> &ports() const { return m_ports; }

private:
    QTemporaryDir m_dir;
    QList<quint16> m_ports;
    QProcess m_process;
};

// The program runuser started for us, or 0.
inline qint64 childOf(const QProcess &runuser)
{
    qint64 pid = 0;
    waitFor([&] {
        QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(runuser.processId()));
        if (children.open(QIODevice::ReadOnly))
            pid = children.readAll().trimmed().split(' ').value(0).toLongLong();
        return pid > 0;
    }, 5000);
    return pid;
}

// Starts another player as nobody playing into the sound server (into sink, if given).
inline void startAsNobody(QProcess &runuser, const QString &pulseServer, const QStringList &command,
                          const QString &sink = {})
{
    QStringList env{"-u", "DISPLAY", "HOME=/tmp", "PULSE_SERVER=" + pulseServer};
    if (!sink.isEmpty())
        env << QStringLiteral("PULSE_SINK=") + sink;
    runuser.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    runuser.start(QStringLiteral("runuser"), QStringList{"-u", "nobody", "--", "env"} + env + command);
}

inline void stopAsNobody(QProcess &runuser)
{
    if (runuser.state() == QProcess::NotRunning)
        return;
    if (const qint64 pid = childOf(runuser))
        ::kill(pid_t(pid), SIGTERM);
    if (!runuser.waitForFinished(10000)) {
        runuser.kill();
        runuser.waitForFinished(5000);
    }
}

// VLC or mpv running idle, as nobody, with a control socket; play() gives it an address as a
// user's command to a running instance would. Stopped when destroyed.
class PeerPlayer {
public:
    enum class Kind { Vlc, Mpv };
    static QString name(Kind k) { return k == Kind::Vlc ? QStringLiteral("vlc") : QStringLiteral("mpv"); }

    PeerPlayer(Kind kind, QString pulseServer, QString sink = {})
        : m_kind(kind), m_pulseServer(std::move(pulseServer)), m_sink(std::move(sink))
    {
        QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777)); // nobody makes its socket here
    }
    ~PeerPlayer() { stop(); }

    // Started, and its control socket taking commands, within 20 s.
    bool start()
    {
        const QString socket = m_dir.filePath(QStringLiteral("control"));
        const QStringList command = m_kind == Kind::Vlc
            ? QStringList{"vlc", "-q", "-I", "oldrc", "--rc-fake-tty", "--rc-unix", socket, "--no-video"}
            : QStringList{"mpv", "--idle=yes", "--input-ipc-server=" + socket, "--no-video", "--no-terminal",
                          "--ao=pulse"};
        startAsNobody(m_runuser, m_pulseServer, command, m_sink);
        if (!m_runuser.waitForStarted(5000))
            return false;
        return waitFor([&] {
            if (!QFile::exists(socket))
                return false;
            m_control.connectToServer(socket);
            return m_control.waitForConnected(200);
        }, 20000, 20);
    }
    // Sends the command to play url; the steady-clock time it was sent at, or -1.
    qint64 play(const QString &url)
    {
        const QByteArray line = m_kind == Kind::Vlc
            ? "add " + url.toUtf8() + '\n'
            : "{\"command\":[\"loadfile\",\"" + url.toUtf8() + "\"]}\n";
        const qint64 sent = nowNs();
        if (m_control.write(line) != line.size() || !m_control.waitForBytesWritten(2000))
            return -1;
        return sent;
    }
    void stop()
    {
        if (m_control.state() == QLocalSocket::ConnectedState) {
            m_control.write(m_kind == Kind::Vlc ? "quit\n" : "{\"command\":[\"quit\"]}\n");
            m_control.waitForBytesWritten(1000);
            m_runuser.waitForFinished(5000);
        }
        stopAsNobody(m_runuser);
    }

private:
    Kind m_kind;
    QString m_pulseServer, m_sink;
    QTemporaryDir m_dir;
    QProcess m_runuser;
    QLocalSocket m_control;
};

} // namespace lumora::bench
