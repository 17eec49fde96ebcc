#include "stall_meter.h"

#include <QApplication>
#include <QFile>
#include <QList>

namespace lumora::test {

qint64 threadRunDelayNs()
{
    QFile f(QStringLiteral("/proc/thread-self/schedstat"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().trimmed().split(' ');
    bool ok = false;
    const qint64 delay = fields.value(1).toLongLong(&ok);
    return ok ? delay : -1;
}

StallMeter::StallMeter()
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(5);
    connect(&m_timer, &QTimer::timeout, this, &StallMeter::tick);
}

void StallMeter::start()
{
    m_worst = 0;
    m_dialog = false;
    m_lastDelay = threadRunDelayNs();
    m_clock.start();
    m_timer.start();
}

void StallMeter::tick()
{
    const qint64 delay = threadRunDelayNs();
    const qint64 waited = delay >= 0 && m_lastDelay >= 0 ? (delay - m_lastDelay) / 1000000 : 0;
    m_lastDelay = delay;
    const qint64 gap = qMax<qint64>(0, m_clock.restart() - waited);
    if (gap > 30 && qEnvironmentVariableIsSet("LUMORA_SHOW_STALLS"))
        qInfo("stall of %lld ms while %s", gap, qPrintable(m_label));
    if (gap > m_worst) {
        m_worst = gap;
        m_worstAt = m_label;
    }
    if (QApplication::activeModalWidget())
        m_dialog = true;
}

} // namespace lumora::test
