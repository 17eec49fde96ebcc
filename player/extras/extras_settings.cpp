#include "extras_settings.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

namespace lumora {

namespace {

constexpr qint64 kMaxFileBytes = 64 * 1024; // a settings file is a few hundred bytes

} // namespace

QString ExtrasSettings::recordFolderDefault()
{
    return QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/Lumora");
}

QString ExtrasSettings::recordingFolder() const
{
    return recordFolder.isEmpty() ? recordFolderDefault() : recordFolder;
}

QString ExtrasSettings::filePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/lumora/player-extras.json");
}

ExtrasSettings ExtrasSettings::load(QString *error)
{
    ExtrasSettings s;
    QFile file(filePath());
    if (!file.exists())
        return s;
    auto fail = [&](const QString &why) {
        if (error)
            *error = filePath() + QStringLiteral(": ") + why;
        return ExtrasSettings{};
    };
    if (!file.open(QIODevice::ReadOnly))
        return fail(file.errorString());
    if (file.size() > kMaxFileBytes)
        return fail(QStringLiteral("larger than %1 bytes").arg(kMaxFileBytes));
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(kMaxFileBytes), &parse);
    if (!doc.isObject())
        return fail(parse.error != QJsonParseError::NoError ? parse.errorString()
                                                            : QStringLiteral("not a JSON object"));
    const QJsonObject o = doc.object();
    s.notifyTitles = o.value(u"notifyTitles").toBool(false);
    s.evenLoudness = o.value(u"evenLoudness").toBool(false);
    s.recordFolder = o.value(u"recordFolder").toString();
    s.recordPerTitle = o.value(u"recordPerTitle").toBool(false);
    return s;
}

bool ExtrasSettings::save(QString *error) const
{
    const QString path = filePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    const QJsonObject o{{QStringLiteral("notifyTitles"), notifyTitles},
                        {QStringLiteral("evenLoudness"), evenLoudness},
                        {QStringLiteral("recordFolder"), recordFolder},
                        {QStringLiteral("recordPerTitle"), recordPerTitle}};
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(o).toJson()) < 0 || !file.commit()) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return true;
}

} // namespace lumora
