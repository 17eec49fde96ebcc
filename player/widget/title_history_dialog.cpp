#include "title_history_dialog.h"

#include "player/model/title_history.h"
#include "player_texts.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace lumora {

namespace {

// Each cell laid out in the direction of its own text: a Latin title reads from the left
// inside the right-to-left list, an Arabic one from the right, a time as numbers do.
class OwnDirectionDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->direction = option->text.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
        option->displayAlignment = Qt::AlignLeading | Qt::AlignVCenter;
    }
};

enum Column { Time, Title, Station, ColumnCount };

QString timeText(const QDateTime &began)
{
    return began.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

TitleHistoryDialog::TitleHistoryDialog(const TitleHistory &history, QWidget *parent)
    : QDialog(parent), m_history(history)
{
    setObjectName(QStringLiteral("titleHistoryDialog"));
    setWindowTitle(playerLabel(PlayerLabel::HistoryWindow));
    setLayoutDirection(Qt::RightToLeft);
    resize(560, 360);

    auto *column = new QVBoxLayout(this);
    auto *empty = new QLabel(playerLabel(PlayerLabel::HistoryEmpty), this);
    empty->setObjectName(QStringLiteral("historyEmpty"));
    empty->setTextFormat(Qt::PlainText);
    column->addWidget(empty);

    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setAccessibleName(playerLabel(PlayerLabel::HistoryList));
    m_list->setColumnCount(ColumnCount);
    m_list->setHeaderLabels({playerLabel(PlayerLabel::HistoryTime), playerLabel(PlayerLabel::HistoryTitle),
                             playerLabel(PlayerLabel::HistoryStation)});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setItemDelegate(new OwnDirectionDelegate(m_list));
    m_list->header()->setSectionResizeMode(Title, QHeaderView::Stretch);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setDefaultAlignment(Qt::AlignRight | Qt::AlignVCenter);
    column->addWidget(m_list, 1);

    auto *copyKey = new QAction(m_list);
    copyKey->setShortcut(QKeySequence::Copy);
    copyKey->setShortcutContext(Qt::WidgetShortcut);
    connect(copyKey, &QAction::triggered, this, &TitleHistoryDialog::copySelected);
    m_list->addAction(copyKey);

    auto *buttons = new QHBoxLayout;
    auto makeButton = [this, buttons](PlayerLabel label, const char *name) {
        auto *b = new QPushButton(playerLabel(label), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(b->text());
        buttons->addWidget(b);
        return b;
    };
    m_copy = makeButton(PlayerLabel::CopyTitle, "copyTitle");
    m_copyAll = makeButton(PlayerLabel::CopyAll, "copyAll");
    m_export = makeButton(PlayerLabel::Export, "exportTitles");
    buttons->addStretch(1);
    QPushButton *close = makeButton(PlayerLabel::Close, "closeHistory");
    connect(m_copy, &QPushButton::clicked, this, &TitleHistoryDialog::copySelected);
    connect(m_copyAll, &QPushButton::clicked, this, &TitleHistoryDialog::copyAll);
    connect(m_export, &QPushButton::clicked, this, &TitleHistoryDialog::exportToFile);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    column->addLayout(buttons);

    connect(&m_history, &TitleHistory::changed, this, &TitleHistoryDialog::refill);
    connect(&m_history, &TitleHistory::changed, this, [this, empty] { empty->setVisible(m_history.isEmpty()); });
    empty->setVisible(m_history.isEmpty());
    refill();
    m_list->setFocus();
}

void TitleHistoryDialog::refill()
{
    // The selection stays on its entry while newer ones come in above it.
    const QTreeWidgetItem *current = m_list->currentItem();
    const QStringList selected = current ? QStringList{current->text(Time), current->text(Title)} : QStringList();
    m_list->clear();
    const QList<TitleEntry> entries = m_history.newestFirst();
    QTreeWidgetItem *select = nullptr;
    for (const TitleEntry &e : entries) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(Time, timeText(e.began));
        item->setText(Title, e.title);
        item->setText(Station, e.station);
        if (!select && QStringList{item->text(Time), item->text(Title)} == selected)
            select = item;
    }
    for (int c = 0; c < ColumnCount; ++c)
        if (c != Title)
            m_list->resizeColumnToContents(c);
    if (!select)
        select = m_list->topLevelItem(0);
    if (select)
        m_list->setCurrentItem(select);
    const bool any = !entries.isEmpty();
    m_copy->setEnabled(any);
    m_copyAll->setEnabled(any);
    m_export->setEnabled(any);
}

QString TitleHistoryDialog::text() const
{
    QString out;
    for (const TitleEntry &e : m_history.newestFirst())
        out += timeText(e.began) + u'\t' + e.title + u'\t' + e.station + u'\n';
    return out;
}

QString TitleHistoryDialog::selectedTitle() const
{
    const QTreeWidgetItem *item = m_list->currentItem();
    return item ? item->text(Title) : QString();
}

void TitleHistoryDialog::copySelected()
{
    const QString title = selectedTitle();
    if (!title.isEmpty())
        QGuiApplication::clipboard()->setText(title);
}

void TitleHistoryDialog::copyAll()
{
    if (!m_history.isEmpty())
        QGuiApplication::clipboard()->setText(text());
}

bool TitleHistoryDialog::exportToFile()
{
    QFileDialog ask(this, playerLabel(PlayerLabel::ExportWindow), QDir::homePath(),
                    playerLabel(PlayerLabel::ExportFilter));
    ask.setObjectName(QStringLiteral("exportDialog"));
    ask.setAcceptMode(QFileDialog::AcceptSave);
    ask.setDefaultSuffix(QStringLiteral("txt"));
    ask.selectFile(QStringLiteral("lumora-titles.txt"));
    if (ask.exec() != QDialog::Accepted || ask.selectedFiles().isEmpty())
        return false;
    const QString path = ask.selectedFiles().constFirst();
    QSaveFile file(path);
    const QByteArray bytes = text().toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    QMessageBox failed(QMessageBox::Warning, playerLabel(PlayerLabel::ExportWindow),
                       playerLabel(PlayerLabel::ExportFailed).arg(path, file.errorString()),
                       QMessageBox::Ok, this);
    failed.setTextFormat(Qt::PlainText);
    failed.exec();
    return false;
}

} // namespace lumora
