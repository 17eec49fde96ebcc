#include "page_window.h"

#include "appearance.h"
#include "banner_image.h"
#include "catalogue/page_directory.h"
#include "catalogue/station.h"
#include "station_button.h"

#include <QCloseEvent>
#include <QIcon>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <algorithm>
#include <climits>
#include <stdexcept>
#include <vector>

namespace lumora {

QFont fontFor(const FontOverride &override)
{
    QFont font(QString::fromLatin1(override.face));
    font.setPointSizeF(override.pointSize);
    font.setWeight(QFont::Weight(override.weight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

namespace {

QString captionOf(Page page, const ControlLayout &control)
{
    if (control.category) {
        const PageEntry *entry = PageDirectory::byMainButton(control.category);
        if (!entry)
            throw std::logic_error("layout names a category button that no page has");
        return entry->title();
    }
    const Station *station = findStation(page, control.station);
    if (!station)
        throw std::logic_error("layout names a station that the page does not have");
    return station->caption();
}

} // namespace

PageWindow::PageWindow(const PageLayout &layout, const PlayerFactory &createPlayer)
    : m_layout(layout)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(pageName(layout.page));
    setWindowTitle(layout.title());
    setWindowIcon(QIcon(QString::fromLatin1(layout.icon)));
    setLayoutDirection(layout.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);

    // F10 opens the first menu, as on other desktops, for those who work without a mouse.
    auto *openMenus = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(openMenus, &QShortcut::activated, this, [this] {
        QMenuBar *bar = qobject_cast<QMenuBar *>(menuWidget());
        if (bar && !bar->actions().isEmpty())
            bar->setActiveAction(bar->actions().constFirst());
    });

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setAutoFillBackground(true);
    QPalette palette = client->palette();
    palette.setColor(QPalette::Window, QColor(kPageBackground));
    client->setPalette(palette);
    setCentralWidget(client);

    // Controls are created in focus order, so the focus chain starts out right; images,
    // which take no focus, come last.
    std::vector<const ControlLayout *> controls;
    for (const ControlLayout &c : layout.controls)
        controls.push_back(&c);
    std::stable_sort(controls.begin(), controls.end(), [](const auto *a, const auto *b) {
        const int ta = a->tabIndex < 0 ? INT_MAX : a->tabIndex;
        const int tb = b->tabIndex < 0 ? INT_MAX : b->tabIndex;
        return ta < tb;
    });
    QWidget *previous = nullptr;
    for (const ControlLayout *c : controls) {
        QWidget *widget = createControl(*c, createPlayer);
        widget->setObjectName(c->objectName());
        widget->setGeometry(c->pixelRect());
        if (c->tabIndex >= 0) {
            if (previous)
                setTabOrder(previous, widget);
            previous = widget;
        }
    }
}

QWidget *PageWindow::createControl(const ControlLayout &control,
                                   const PlayerFactory &createPlayer)
{
    QWidget *client = centralWidget();
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto *button = new StationButton(captionOf(m_layout.page, control), client);
        button->setLayoutDirection(control.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        button->setAutoDefault(false);
        if (control.font)
            button->setFont(fontFor(*control.font));
        m_buttons.append(button);
        return button;
    }
    case ControlKind::Image:
        m_banner = new BannerImage(QString::fromLatin1(control.picture), client);
        return m_banner;
    case ControlKind::MediaPlayer:
        if (!createPlayer)
            throw std::logic_error("a page with a player needs a way to create it");
        m_player = createPlayer(client);
        if (!m_player)
            throw std::logic_error("the player factory made no player");
        if (m_player->parentWidget() != client)
            m_player->setParent(client);
        return m_player;
    }
    throw std::logic_error("unknown control kind");
}

StationButton *PageWindow::button(int number) const
{
    const QString name = QStringLiteral("Command%1").arg(number);
    for (StationButton *b : m_buttons)
        if (b->objectName() == name)
            return b;
    return nullptr;
}

void PageWindow::applyStartGeometry()
{
    const QSize client = m_layout.clientPixels();
    int menuHeight = 0;
    if (QMenuBar *bar = qobject_cast<QMenuBar *>(menuWidget())) {
        menuHeight = bar->heightForWidth(client.width());
        if (menuHeight < 0)
            menuHeight = bar->sizeHint().height();
    }
    const QSize size(client.width(), client.height() + menuHeight);
    QScreen *target = screen();
    if (!m_layout.startCentred || !target) {
        resize(size);
        return;
    }
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size,
                                    target->availableGeometry()));
}

void PageWindow::closeEvent(QCloseEvent *event)
{
    QMainWindow::closeEvent(event);
    if (event->isAccepted())
        emit closedFromFrame();
}

} // namespace lumora
