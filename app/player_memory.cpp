#include "player_memory.h"

#include "catalogue/station.h"
#include "player/common/playback_states.h"
#include "player/model/station_player.h"
#include "player/widget/player_texts.h"

#include <QJsonArray>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcKept)

namespace lumora {

namespace {

const QString kFormat = QStringLiteral("lumora-state");
constexpr qsizetype kMaxTextLength = 1000; // titles and captions are far shorter

std::size_t indexOf(Page page)
{
    return std::size_t(pageNumber(page) - pageNumber(Page::Form2));
}

// Reads the kept state, refusing anything Lumora would not have written: the first such
// value makes the whole file damaged, named by its place ("pages.Form2.volume").
class StateReader {
public:
    QString problem;

    bool integer(const QJsonObject &o, const char *key, int low, int high, int *out, const QString &at)
    {
        const QJsonValue v = o.value(QLatin1StringView(key));
        if (v.isUndefined())
            return true;
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d != double(int(d)) || d < low || d > high)
            return fail(at + u'.' + QLatin1StringView(key),
                        QStringLiteral("not a whole number from %1 to %2").arg(low).arg(high));
        *out = int(d);
        return true;
    }
    bool boolean(const QJsonObject &o, const char *key, bool *out, const QString &at)
    {
        const QJsonValue v = o.value(QLatin1StringView(key));
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return fail(at + u'.' + QLatin1StringView(key), QStringLiteral("not true or false"));
        *out = v.toBool();
        return true;
    }
    bool text(const QJsonObject &o, const char *key, QString *out, const QString &at)
    {
        const QJsonValue v = o.value(QLatin1StringView(key));
        if (!v.isString() || v.toString().size() > kMaxTextLength)
            return fail(at + u'.' + QLatin1StringView(key),
                        QStringLiteral("not a text of at most %1 characters").arg(kMaxTextLength));
        *out = v.toString();
        return true;
    }
    bool fail(const QString &at, const QString &what)
    {
        problem = at + QStringLiteral(": ") + what;
        return false;
    }
};

} // namespace

PlayerMemory::PlayerMemory(const MemoryFiles &files, QObject *parent)
    : QObject(parent), m_state(std::make_unique<KeptFile>(files.state, kFormat))
{
    QString problem;
    m_choices = std::make_unique<ListenerChoices>(files.choices, &problem);
    note(problem);
    const QJsonObject state = m_state->read(&problem);
    note(problem);
    readState(state);
}

PlayerMemory::~PlayerMemory() = default;

void PlayerMemory::note(const QString &problem)
{
    if (problem.isEmpty())
        return;
    qCWarning(lcKept).noquote() << problem << "- starting from the defaults";
    m_problem = m_problem.isEmpty() ? problem : m_problem + u'\n' + problem;
}

PlayerMemory::PageRecord &PlayerMemory::record(Page page)
{
    return m_pages[indexOf(page)];
}

const PlayerMemory::PageRecord &PlayerMemory::record(Page page) const
{
    return m_pages[indexOf(page)];
}

void PlayerMemory::readState(const QJsonObject &state)
{
    StateReader r;
    const QJsonObject pages = state.value(QStringLiteral("pages")).toObject();
    bool ok = state.isEmpty() || state.value(QStringLiteral("pages")).isObject()
        || r.fail(QStringLiteral("pages"), QStringLiteral("not an object"));
    for (auto it = pages.begin(); ok && it != pages.end(); ++it) {
        const QString at = QStringLiteral("pages.") + it.key();
        const std::optional<Page> page = pageFromName(it.key());
        if (!page || !isStationPage(*page) || !it.value().isObject()) {
            ok = r.fail(at, QStringLiteral("not a station page's record"));
            break;
        }
        const QJsonObject o = it.value().toObject();
        PageRecord rec;
        ok = r.integer(o, "volume", 0, 100, &rec.volume, at) && r.boolean(o, "muted", &rec.muted, at)
            && r.integer(o, "station", 0, int(stationsOf(*page).size()), &rec.station, at)
            && r.boolean(o, "playing", &rec.playing, at);
        const QJsonArray titles = o.value(QStringLiteral("titles")).toArray();
        if (ok && o.contains(QStringLiteral("titles")) && !o.value(QStringLiteral("titles")).isArray())
            ok = r.fail(at + QStringLiteral(".titles"), QStringLiteral("not a list"));
        for (qsizetype i = 0; ok && i < titles.size(); ++i) {
            const QString entryAt = at + QStringLiteral(".titles[%1]").arg(i);
            const QJsonObject t = titles.at(i).toObject();
            TitleEntry entry;
            QString began;
            ok = r.text(t, "title", &entry.title, entryAt) && r.text(t, "began", &began, entryAt)
                && r.text(t, "station", &entry.station, entryAt);
            entry.began = QDateTime::fromString(began, Qt::ISODateWithMs);
            if (ok && (!entry.began.isValid() || entry.title.isEmpty()))
                ok = r.fail(entryAt, QStringLiteral("no title, or no valid time it began"));
            rec.titles.append(entry);
        }
        if (rec.titles.size() > TitleHistory::kCapacity)
            rec.titles.remove(0, rec.titles.size() - TitleHistory::kCapacity);
        record(*page) = rec;
    }
    if (ok)
        return;
    m_pages = {};
    note(m_state->path() + QStringLiteral(": ") + r.problem);
    m_state->write(stateObject()); // said once, then replaced by the defaults
    m_state->flush();
}

bool PlayerMemory::resumePlaying() const
{
    return m_choices->isOn(QLatin1StringView(kResumePlaying));
}

void PlayerMemory::setResumePlaying(bool on)
{
    m_choices->set(QLatin1StringView(kResumePlaying), on);
}

QList<Page> PlayerMemory::pagesToResume() const
{
    QList<Page> out;
    if (!resumePlaying())
        return out;
    for (int n = pageNumber(Page::Form2); n < pageNumber(Page::End); ++n) {
        const Page page = Page(n);
        if (record(page).playing && record(page).station > 0)
            out << page;
    }
    return out;
}

int PlayerMemory::lastStation(Page page) const
{
    return record(page).station;
}

void PlayerMemory::attach(Page page, StationPlayer &player)
{
    const PageRecord &kept = record(page);
    if (kept.volume >= 0)
        player.setVolume(kept.volume);
    player.setMuted(kept.muted);
    player.history().restore(kept.titles);
    if (!m_problem.isEmpty() && !m_problemShown) {
        // Said once, on the first player the listener meets, until it plays.
        m_problemShown = true;
        const QString key = QStringLiteral("memory");
        player.setRemark(key, playerLabel(PlayerLabel::MemoryReset).arg(m_problem));
        connect(&player, &StationPlayer::statusChanged, &player, [&player, key](const PlayerStatus &s) {
            if (stateInfo(s.state).underWay)
                player.setRemark(key, {});
        });
    }

    connect(&player, &StationPlayer::volumeChanged, this, [this, page](int volume) {
        record(page).volume = volume;
        changed();
    });
    connect(&player, &StationPlayer::mutedChanged, this, [this, page](bool muted) {
        record(page).muted = muted;
        changed();
    });
    connect(&player, &StationPlayer::statusChanged, this, [this, page](const PlayerStatus &s) {
        const bool playing = stateInfo(s.state).underWay;
        if (m_ending || record(page).playing == playing)
            return;
        record(page).playing = playing;
        changed();
    });
    TitleHistory *history = &player.history();
    connect(history, &TitleHistory::changed, this, [this, page, history] {
        record(page).titles = history->entries();
        changed();
    });
    // A player that goes while the program runs (its window was closed) plays no more.
    connect(&player, &QObject::destroyed, this, [this, page] {
        if (m_ending || !record(page).playing)
            return;
        record(page).playing = false;
        changed();
    });
}

void PlayerMemory::stationChosen(Page page, int number)
{
    if (record(page).station == number)
        return;
    record(page).station = number;
    changed();
}

void PlayerMemory::programEnds()
{
    m_ending = true;
    m_state->flush();
    m_choices->flush();
}

void PlayerMemory::changed()
{
    m_state->write(stateObject());
}

QJsonObject PlayerMemory::stateObject() const
{
    QJsonObject pages;
    for (int n = pageNumber(Page::Form2); n < pageNumber(Page::End); ++n) {
        const PageRecord &rec = record(Page(n));
        if (rec.volume < 0 && !rec.muted && rec.station == 0 && rec.titles.isEmpty())
            continue;
        QJsonObject o{{QStringLiteral("muted"), rec.muted},
                      {QStringLiteral("station"), rec.station},
                      {QStringLiteral("playing"), rec.playing}};
        if (rec.volume >= 0)
            o.insert(QStringLiteral("volume"), rec.volume);
        QJsonArray titles;
        for (const TitleEntry &t : rec.titles)
            titles.append(QJsonObject{{QStringLiteral("title"), t.title},
                                      {QStringLiteral("began"), t.began.toString(Qt::ISODateWithMs)},
                                      {QStringLiteral("station"), t.station}});
        o.insert(QStringLiteral("titles"), titles);
        pages.insert(pageName(Page(n)), o);
    }
    return {{QStringLiteral("pages"), pages}};
}

} // namespace lumora
