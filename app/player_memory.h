#pragma once

#include "catalogue/page.h"
#include "kept_file.h"
#include "listener_choices.h"
#include "memory_files.h"
#include "player/model/title_history.h"

#include <QList>
#include <QObject>
#include <QString>
#include <array>
#include <memory>

namespace lumora {

class StationPlayer;

// What each station page's player is given back at the next start: its volume and mute, the
// station it played last, whether it was playing when the program ended, the titles it
// heard. The players are watched while they live (attach); every change is written after a
// short delay, and all at once when the program ends. The listener's choice to have the
// playing pages play again at start ("resumePlaying") is kept with the other choices.
class PlayerMemory : public QObject {
    Q_OBJECT
public:
    static constexpr const char *kResumePlaying = "resumePlaying";

    // Reads both files. What was wrong with one (damaged, foreign) is logged once and kept
    // in problem(); the file is replaced by what was kept from it (nothing).
    explicit PlayerMemory(const MemoryFiles &files, QObject *parent = nullptr);
    ~PlayerMemory() override;

    QString problem() const { return m_problem; }
    ListenerChoices &choices() { return *m_choices; }
    bool resumePlaying() const;
    void setResumePlaying(bool on);

    // The pages to play again now: those playing when the program ended, each with a last
    // station, when the listener asked for it; none otherwise.
    QList<Page> pagesToResume() const;
    // The station (its number on the page) the page played last; 0: none.
    int lastStation(Page page) const;

    // Gives page's new player what was kept and follows it from now on.
    void attach(Page page, StationPlayer &player);
    // The page's station was chosen (clicked, or played again at start).
    void stationChosen(Page page, int number);
    // The program ends: which pages play is kept as it is now, whatever the players do while
    // they go, and everything is written.
    void programEnds();

private:
    struct PageRecord {
        int volume = -1; // -1: never set, the player's own default
        bool muted = false;
        int station = 0;
        bool playing = false;
        QList<TitleEntry> titles;
    };
    PageRecord &record(Page page);
    const PageRecord &record(Page page) const;
    void readState(const QJsonObject &state);
    void changed();
    QJsonObject stateObject() const;
    void note(const QString &problem);

    std::array<PageRecord, kStationPageCount> m_pages{};
    std::unique_ptr<KeptFile> m_state;
    std::unique_ptr<ListenerChoices> m_choices;
    QString m_problem;
    bool m_problemShown = false;
    bool m_ending = false;
};

} // namespace lumora
