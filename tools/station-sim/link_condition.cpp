#include "link_condition.h"

#include <algorithm>
#include <functional>

namespace lumora::sim {
namespace {

// splitmix64: a well-mixed number for each (seed, n), so that any hold can be had without
// drawing the ones before it.
quint64 mix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Each setting by its name on the command line; times in ms, the bit rate in kbit/s.
using Setter = std::function<bool(LinkCondition &, double)>;
const QList<std::pair<QString, Setter>> &settings()
{
    auto ms = [](int LinkCondition::*field) {
        return [field](LinkCondition &c, double v) {
            if (v < 0 || v > 24.0 * 3600 * 1000)
                return false;
            c.*field = int(v);
            return true;
        };
    };
    auto factor = [](double LinkCondition::*field) {
        return [field](LinkCondition &c, double v) {
            if (v <= 0 || v > 1000)
                return false;
            c.*field = v;
            return true;
        };
    };
    static const QList<std::pair<QString, Setter>> all = {
        {QStringLiteral("delay-ms"), ms(&LinkCondition::delayMs)},
        {QStringLiteral("jitter-every-ms"), ms(&LinkCondition::jitterEveryMs)},
        {QStringLiteral("jitter-max-ms"), ms(&LinkCondition::jitterMaxMs)},
        {QStringLiteral("seed"), [](LinkCondition &c, double v) {
             if (v < 0 || v > 4294967295.0)
                 return false;
             c.seed = quint32(v);
             return true;
         }},
        {QStringLiteral("stall-every-ms"), ms(&LinkCondition::stallEveryMs)},
        {QStringLiteral("stall-ms"), ms(&LinkCondition::stallMs)},
        {QStringLiteral("kbps"), [](LinkCondition &c, double v) {
             if (v < 1 || v > 1000000)
                 return false;
             c.bitrateKbps = int(v);
             return true;
         }},
        {QStringLiteral("cap"), factor(&LinkCondition::cap)},
        {QStringLiteral("later-cap"), factor(&LinkCondition::laterCap)},
        {QStringLiteral("cap-change-ms"), ms(&LinkCondition::capChangeMs)},
        {QStringLiteral("outage-at-ms"), ms(&LinkCondition::outageAtMs)},
        {QStringLiteral("outage-ms"), ms(&LinkCondition::outageMs)},
    };
    return all;
}

} // namespace

QStringList LinkCondition::names()
{
    return {QStringLiteral("clean"), QStringLiteral("jitter"), QStringLiteral("stalls"),
            QStringLiteral("thin"), QStringLiteral("thin-recover"), QStringLiteral("outage")};
}

QStringList LinkCondition::parameterNames()
{
    QStringList names;
    for (const auto &s : settings())
        names << s.first;
    return names;
}

std::optional<LinkCondition> LinkCondition::named(const QString &name)
{
    LinkCondition c;
    c.name = name;
    if (name == u"clean")
        return c;
    if (name == u"jitter") {
        c.jitterEveryMs = 2000;
        c.jitterMaxMs = 800;
        return c;
    }
    if (name == u"stalls") {
        c.stallEveryMs = 20000;
        c.stallMs = 2500;
        return c;
    }
    if (name == u"thin") {
        c.cap = 1.25;
        c.delayMs = 150;
        return c;
    }
    if (name == u"thin-recover") {
        c.cap = 0.9;
        c.laterCap = 2;
        c.capChangeMs = 30000;
        return c;
    }
    if (name == u"outage") {
        c.outageAtMs = 10000;
        c.outageMs = 12000;
        return c;
    }
    return std::nullopt;
}

std::optional<LinkCondition> LinkCondition::parse(const QString &text, QString *error)
{
    const qsizetype colon = text.indexOf(u':');
    const QString name = text.left(colon);
    std::optional<LinkCondition> c = named(name);
    if (!c) {
        if (error)
            *error = QStringLiteral("unknown link condition \"%1\"; known: %2").arg(name, names().join(u", "));
        return std::nullopt;
    }
    if (colon < 0)
        return c;
    for (const QString &pair : text.mid(colon + 1).split(u',', Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(u'=');
        const QString key = pair.left(eq);
        bool ok = eq > 0;
        const double value = pair.mid(eq + 1).toDouble(&ok);
        auto it = std::find_if(settings().begin(), settings().end(), [&](const auto &s) { return s.first == key; });
        if (it == settings().end()) {
            if (error)
                *error = QStringLiteral("unknown link setting \"%1\" in \"%2\"; known: %3")
                             .arg(key, text, parameterNames().join(u", "));
            return std::nullopt;
        }
        if (!ok || !it->second(*c, value)) {
            if (error)
                *error = QStringLiteral("link setting %1 wants a number in range, got \"%2\"").arg(key, pair.mid(eq + 1));
            return std::nullopt;
        }
    }
    // A hold or a stall as long as its period would never end.
    if ((c->jitterEveryMs > 0 && c->jitterMaxMs >= c->jitterEveryMs)
        || (c->stallEveryMs > 0 && c->stallMs >= c->stallEveryMs)) {
        if (error)
            *error = QStringLiteral("in \"%1\" a hold or stall is as long as its period").arg(text);
        return std::nullopt;
    }
    return c;
}

int LinkCondition::jitterHoldMs(int n) const
{
    if (jitterEveryMs <= 0 || jitterMaxMs <= 0 || n < 1)
        return 0;
    return int(mix((quint64(seed) << 32) | quint32(n)) % quint64(jitterMaxMs + 1));
}

bool LinkCondition::inOutage(qint64 atMs) const
{
    return outageAtMs >= 0 && atMs >= outageAtMs && atMs < qint64(outageAtMs) + outageMs;
}

qint64 LinkCondition::releaseMs(Direction d, qint64 atMs) const
{
    // Holds, stalls and the outage may touch one another: move on until none holds.
    for (qint64 before = -1; before != atMs;) {
        before = atMs;
        if (jitterEveryMs > 0 && atMs >= jitterEveryMs) {
            const qint64 n = atMs / jitterEveryMs;
            const qint64 end = n * jitterEveryMs + jitterHoldMs(int(n));
            if (atMs < end)
                atMs = end;
        }
        if (d == Direction::Down && stallEveryMs > 0 && atMs >= stallEveryMs) {
            const qint64 end = (atMs / stallEveryMs) * stallEveryMs + stallMs;
            if (atMs < end)
                atMs = end;
        }
        if (inOutage(atMs))
            atMs = qint64(outageAtMs) + outageMs;
    }
    return atMs;
}

double LinkCondition::capBytesPerSecond(qint64 atMs) const
{
    const double factor = laterCap > 0 && atMs >= capChangeMs ? laterCap : cap;
    return factor > 0 ? factor * bitrateKbps * 1000.0 / 8.0 : 0;
}

} // namespace lumora::sim
