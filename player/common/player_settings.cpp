#include "player_settings.h"

#include "player_failure.h"

#include <QCoreApplication>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <variant>

namespace lumora {

namespace {

// The persisted stream of the player on every station page.
constexpr unsigned char kStoredForm[164] = {
    0x00, 0x03, 0x00, 0x00,                                        // version 0x300
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // URL ""
    0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F,    // rate 1.0
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00,                            // balance 0
    0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,    // currentPosition 0.0
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // defaultFrame ""
    0x03, 0x00, 0x01, 0x00, 0x00, 0x00,                            // playCount 1
    0x0B, 0x00, 0xFF, 0xFF,                                        // autoStart true
    0x03, 0x00, 0x00, 0x00, 0x00, 0x00,                            // currentMarker 0
    0x0B, 0x00, 0xFF, 0xFF,                                        // invokeURLs true
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // baseURL ""
    0x03, 0x00, 0x32, 0x00, 0x00, 0x00,                            // volume 50
    0x0B, 0x00, 0x00, 0x00,                                        // mute false
    0x08, 0x00, 0x0A, 0x00, 0x00, 0x00,                            // uiMode "full"
    0x66, 0x00, 0x75, 0x00, 0x6C, 0x00, 0x6C, 0x00, 0x00, 0x00,
    0x0B, 0x00, 0x00, 0x00,                                        // stretchToFit false
    0x0B, 0x00, 0x00, 0x00,                                        // windowlessVideo false
    0x0B, 0x00, 0xFF, 0xFF,                                        // enabled true
    0x0B, 0x00, 0xFF, 0xFF,                                        // enableContextMenu true
    0x0B, 0x00, 0x00, 0x00,                                        // fullScreen false
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // SAMIStyle ""
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // SAMILang ""
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // SAMIFilename ""
    0x08, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,                // captioningID ""
    0x0B, 0x00, 0x00, 0x00,                                        // enableErrorDialogs false
    0x0F, 0x30, 0x00, 0x00,                                        // _cx 12303
    0x06, 0x0A, 0x00, 0x00,                                        // _cy 2566
};

constexpr quint32 kVersion = 0x300;

enum Tag : quint16 { TagInt = 3, TagDouble = 5, TagString = 8, TagBool = 11 };

using Member = std::variant<QString PlayerSettings::*, double PlayerSettings::*,
                            qint32 PlayerSettings::*, bool PlayerSettings::*>;

struct Field {
    const char *name;
    Member member;
};

// The tagged settings in stream order.
const Field kFields[] = {
    {"URL", &PlayerSettings::URL},
    {"rate", &PlayerSettings::rate},
    {"balance", &PlayerSettings::balance},
    {"currentPosition", &PlayerSettings::currentPosition},
    {"defaultFrame", &PlayerSettings::defaultFrame},
    {"playCount", &PlayerSettings::playCount},
    {"autoStart", &PlayerSettings::autoStart},
    {"currentMarker", &PlayerSettings::currentMarker},
    {"invokeURLs", &PlayerSettings::invokeURLs},
    {"baseURL", &PlayerSettings::baseURL},
    {"volume", &PlayerSettings::volume},
    {"mute", &PlayerSettings::mute},
    {"uiMode", &PlayerSettings::uiMode},
    {"stretchToFit", &PlayerSettings::stretchToFit},
    {"windowlessVideo", &PlayerSettings::windowlessVideo},
    {"enabled", &PlayerSettings::enabled},
    {"enableContextMenu", &PlayerSettings::enableContextMenu},
    {"fullScreen", &PlayerSettings::fullScreen},
    {"SAMIStyle", &PlayerSettings::SAMIStyle},
    {"SAMILang", &PlayerSettings::SAMILang},
    {"SAMIFilename", &PlayerSettings::SAMIFilename},
    {"captioningID", &PlayerSettings::captioningID},
    {"enableErrorDialogs", &PlayerSettings::enableErrorDialogs},
};

// Strings in the stream are short; a longer count is damage, not data.
constexpr quint32 kMaxStringBytes = 4096;

class Reader {
public:
    explicit Reader(QByteArrayView data) : m_data(data) {}

    bool take(qsizetype n, const char *&p)
    {
        if (m_data.size() - m_pos < n)
            return false;
        p = m_data.data() + m_pos;
        m_pos += n;
        return true;
    }
    template <typename T> bool read(T &value)
    {
        const char *p = nullptr;
        if (!take(sizeof(T), p))
            return false;
        value = qFromLittleEndian<T>(p);
        return true;
    }
    qsizetype position() const { return m_pos; }
    qsizetype remaining() const { return m_data.size() - m_pos; }

private:
    QByteArrayView m_data;
    qsizetype m_pos = 0;
};

quint16 tagOf(const Member &m)
{
    switch (m.index()) {
    case 0: return TagString;
    case 1: return TagDouble;
    case 2: return TagInt;
    default: return TagBool;
    }
}

} // namespace

QByteArrayView PlayerSettings::storedForm()
{
    return QByteArrayView(reinterpret_cast<const char *>(kStoredForm), sizeof kStoredForm);
}

std::optional<PlayerSettings> PlayerSettings::decode(QByteArrayView stream, QString *error)
{
    auto refuse = [error](const QString &why) -> std::optional<PlayerSettings> {
        if (error)
            *error = QStringLiteral("damaged player settings: %1").arg(why);
        return std::nullopt;
    };
    Reader in(stream);
    quint32 version = 0;
    if (!in.read(version))
        return refuse(QStringLiteral("stream of %1 bytes has no version").arg(stream.size()));
    if (version != kVersion)
        return refuse(QStringLiteral("version 0x%1, expected 0x300").arg(version, 0, 16));

    PlayerSettings s;
    for (const Field &f : kFields) {
        const qsizetype at = in.position();
        quint16 tag = 0;
        if (!in.read(tag))
            return refuse(QStringLiteral("stream ends before %1 (byte %2)").arg(f.name).arg(at));
        if (tag != tagOf(f.member))
            return refuse(QStringLiteral("%1 at byte %2 has type tag %3, expected %4")
                              .arg(f.name).arg(at).arg(tag).arg(tagOf(f.member)));
        bool ok = true;
        QString why;
        std::visit([&](auto member) {
            using T = std::remove_reference_t<decltype(s.*member)>;
            if constexpr (std::is_same_v<T, QString>) {
                quint32 count = 0;
                const char *p = nullptr;
                if (!in.read(count) || count < 2 || count % 2 != 0 || count > kMaxStringBytes
                    || !in.take(count, p)) {
                    ok = false;
                    why = QStringLiteral("bad string length");
                    return;
                }
                if (p[count - 1] != 0 || p[count - 2] != 0) {
                    ok = false;
                    why = QStringLiteral("string without its terminating NUL");
                    return;
                }
                QString text(qsizetype(count / 2 - 1), Qt::Uninitialized);
                for (qsizetype i = 0; i < text.size(); ++i)
                    text[i] = QChar(qFromLittleEndian<quint16>(p + 2 * i));
                s.*member = text;
            } else if constexpr (std::is_same_v<T, bool>) {
                quint16 v = 0;
                ok = in.read(v) && (v == 0 || v == 0xFFFF);
                why = QStringLiteral("boolean neither 0 nor 0xFFFF");
                s.*member = v == 0xFFFF;
            } else if constexpr (std::is_same_v<T, double>) {
                quint64 bits = 0;
                ok = in.read(bits);
                double v = 0;
                std::memcpy(&v, &bits, sizeof v);
                ok = ok && std::isfinite(v);
                why = QStringLiteral("not a finite number");
                s.*member = v;
            } else {
                ok = in.read(s.*member);
                why = QStringLiteral("truncated");
            }
        }, f.member);
        if (!ok)
            return refuse(QStringLiteral("%1 at byte %2: %3").arg(f.name).arg(at).arg(why));
    }
    if (!in.read(s._cx) || !in.read(s._cy))
        return refuse(QStringLiteral("stream ends before the extent"));
    if (s._cx <= 0 || s._cy <= 0)
        return refuse(QStringLiteral("extent %1 x %2").arg(s._cx).arg(s._cy));
    if (in.remaining() != 0)
        return refuse(QStringLiteral("%1 bytes after the extent").arg(in.remaining()));
    // The picture is always fitted into the player keeping its aspect; a setting the player
    // would silently ignore is refused instead.
    if (s.stretchToFit)
        return refuse(QStringLiteral("stretchToFit is true, but the picture always keeps its aspect"));
    return s;
}

PlayerSettings PlayerSettings::stored()
{
    QString error;
    const std::optional<PlayerSettings> s = decode(storedForm(), &error);
    if (!s)
        throw PlayerFailure(PlayerFailure::Kind::InvalidSettings, error);
    return *s;
}

QSize PlayerSettings::pixelSize() const
{
    // HIMETRIC is 0.01 mm: 2540 to the inch.
    return QSize(qRound(_cx * 96.0 / 2540.0), qRound(_cy * 96.0 / 2540.0));
}

} // namespace lumora
