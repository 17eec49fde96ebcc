// The baseline of start-up: a bare Qt window of the main page's size, from process start to
// its first paint. Prints "painted" and ends.

#include "bench_support.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Lumora"));
    window.resize(337, 449 + 22);
    window.show();
    lumora::bench::FirstPaint paint(&window, [] {
        lumora::bench::report("painted", 0);
        QCoreApplication::exit(0);
    });
    return app.exec();
}
