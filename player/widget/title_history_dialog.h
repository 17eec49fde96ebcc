#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;

namespace lumora {

class TitleHistory;

// The titles a page's player heard, newest first: when each began, the title as the station
// sent it (plain text, laid out in its own direction: Arabic from the right, Latin from the
// left) and the station. The selected title or the whole list can be copied, and the list
// exported as a UTF-8 text file. It follows the history while it is open.
class TitleHistoryDialog : public QDialog {
    Q_OBJECT
public:
    TitleHistoryDialog(const TitleHistory &history, QWidget *parent);

    // The whole list as text, newest first: one line per title, "time<TAB>title<TAB>station".
    QString text() const;
    // The selected title; empty when none is selected.
    QString selectedTitle() const;

    void copySelected();
    void copyAll();
    // Asks for a file and writes text() into it; false when nothing was written.
    bool exportToFile();

private:
    void refill();

    const TitleHistory &m_history;
    QTreeWidget *m_list = nullptr;
    QPushButton *m_copy = nullptr;
    QPushButton *m_copyAll = nullptr;
    QPushButton *m_export = nullptr;
};

} // namespace lumora
