// lumora: the catalogue and player of Arabic internet radio. Takes no arguments: it opens the
// main page and runs until the user ends it. What the players remember (volumes, stations,
// titles heard) is read at start-up and written as it changes.

#include "memory_files.h"
#include "page_set.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    // The player's picture area is a native window for libVLC to draw into; its siblings (the
    // station buttons) need no native windows of their own.
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumora/lumora.png")));
    // The page set decides when the program ends: when no page is left visible.
    app.setQuitOnLastWindowClosed(false);

    lumora::PageSet pages;
    pages.rememberIn(lumora::MemoryFiles::user());
    pages.start();
    const int exitCode = app.exec();
    // A window closed from its frame by the last event is still waiting to be deleted; it
    // goes now, before the page set takes every other window with it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return exitCode;
}
