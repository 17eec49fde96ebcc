#include "page_instance.h"

#include "page_set.h"
#include "ui/page_window.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPage, "lumora.page", QtInfoMsg)

namespace lumora {

PageInstance::PageInstance(Page id, PageSet &pages) : m_id(id), m_pages(pages) {}

PageInstance::~PageInstance()
{
    delete m_window.data();
}

PageWindow *PageInstance::window() const
{
    return m_window.data();
}

bool PageInstance::isVisible() const
{
    return m_window && m_window->isVisible();
}

ClickDispatcher &PageInstance::dispatcher() const
{
    return m_pages.dispatcher();
}

QString PageInstance::controlName(const QString &control) const
{
    return pageName(m_id) + QLatin1Char('.') + control;
}

void PageInstance::open()
{
    std::unique_ptr<PageWindow> window = build();
    QObject::connect(window.get(), &PageWindow::closedFromFrame, window.get(),
                     [this] { closedFromFrame(); });
    window->applyStartGeometry();
    m_window = window.release();
    qCDebug(lcPage) << pageName(m_id) << "opened";
}

void PageInstance::show()
{
    if (!isOpen())
        open();
    m_window->show();
    m_window->activateWindow();
}

void PageInstance::openUnseen()
{
    if (!isOpen())
        open();
}

void PageInstance::hide()
{
    if (m_window)
        m_window->hide();
}

void PageInstance::closedFromFrame()
{
    // The window deletes itself once the close is done; from here on the page is not open.
    m_window = nullptr;
    qCDebug(lcPage) << pageName(m_id) << "closed from its frame";
    m_pages.pageClosed(m_id);
}

} // namespace lumora
