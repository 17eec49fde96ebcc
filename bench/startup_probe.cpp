// Start-up as the program does it (app/main.cpp), ending at the main page's first paint.
// Prints "painted" and ends.

#include "app/page_instance.h"
#include "app/page_set.h"
#include "bench_support.h"
#include "ui/page_window.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Lumora"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lumora/lumora.png")));
    app.setQuitOnLastWindowClosed(false);

    lumora::PageSet pages;
    pages.start();
    lumora::bench::FirstPaint paint(pages.slot(lumora::Page::Form1)->window(), [] {
        lumora::bench::report("painted", 0);
        QCoreApplication::exit(0);
    });
    return app.exec();
}
