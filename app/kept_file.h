#pragma once

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

namespace lumora {

// One JSON object that Lumora keeps in a file between runs, marked with the kind of file it
// is ("format"). Reading never fails the caller: a missing file is an empty object, and a
// damaged or foreign one is an empty object with what was wrong. Writing replaces the file
// atomically (QSaveFile), at most once per delay however often it is asked for, and at once
// on flush() and when the object goes.
class KeptFile : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kMaxBytes = 8 * 1024 * 1024; // far above 17 pages of 500 titles

    KeptFile(QString path, QString format, int delayMs = 500, QObject *parent = nullptr);
    ~KeptFile() override;

    QString path() const { return m_path; }

    // The object kept; empty when there is none. *problem: empty, or what is wrong with the
    // file (unreadable, too large, not JSON, another kind of file), naming the file.
    QJsonObject read(QString *problem) const;

    // Keeps content, written once the delay has passed since the first such call.
    void write(const QJsonObject &content);
    // Writes what waits now, if anything. false: the write failed (logged).
    bool flush();
    bool pending() const { return m_timer.isActive(); }

private:
    bool save();

    const QString m_path;
    const QString m_format;
    QJsonObject m_content;
    QTimer m_timer;
};

} // namespace lumora
