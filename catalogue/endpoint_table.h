#pragma once

#include "key_schema.h"

#include <QHash>
#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <optional>

Q_DECLARE_LOGGING_CATEGORY(lcEndpoints)

namespace lumora {

// One problem found in an endpoint configuration. line is 0 when the problem concerns the
// file as a whole (unreadable, binary, too large).
struct ConfigMessage {
    QString file;
    int line = 0;
    QString text;

    QString toString() const; // "file:line: text" or "file: text"
};

// The configured values of the endpoint keys E01..E65, of the eleven address pieces, of
// any station's whole address where the listener has a newer one, and of the listener's
// settings of how the player fetches (see key_schema.h).
//
// File form (UTF-8, optional BOM, LF or CRLF):
//   # comment
//   KEY = VALUE
// Blank lines and '#' lines are ignored, whatever bytes a comment holds; key and value are
// trimmed. Lines that are not UTF-8, bad values, unknown keys, lines without '=' and
// duplicate keys (the later one wins) are reported with their line, and the rest of the file
// still counts.
class EndpointTable {
public:
    using KeyType = KeyKind;

    // The 76 keys every configuration has, in their canonical order: E01..E65, then the
    // pieces by page and button. Overrides are optional and not among them.
    static const QStringList &allKeys();
    static bool isKnownKey(QStringView key);
    static std::optional<KeyType> keyType(QStringView key);
    // Empty when the value is valid for the key, else what is wrong with it.
    static QString validate(QStringView key, QStringView value);

    // The configured value, or nullopt when the key has no valid value.
    std::optional<QString> value(QStringView key) const;
    bool has(QStringView key) const { return m_values.contains(key.toString()); }
    int size() const { return int(m_values.size()); }
    // The listener's limit on the bandwidth of an HTTP Live Streaming variant, in bits per
    // second (Hls.MaxBandwidth); 0: none.
    qint64 hlsMaxBandwidth() const;
    // The stations' override keys that have a value, in catalogue order.
    QStringList overrides() const;
    // Sets a value without validation (for tests and tools that build tables in memory).
    void set(const QString &key, const QString &value) { m_values.insert(key, value); }

    // Parses a configuration held in memory; fileName is used in messages only.
    static EndpointTable parse(const QByteArray &content, const QString &fileName,
                               QList<ConfigMessage> *messages = nullptr);
    // Reads one file. A missing, unreadable, irregular (directory, FIFO, device), mostly
    // binary or oversized file gives an empty table and one message (none for a missing
    // file when missingIsSilent); so does a read error.
    static EndpointTable load(const QString &path, QList<ConfigMessage> *messages = nullptr,
                              bool missingIsSilent = false);
    // The user's own endpoint file, where Lumora looks first and `lumora-catalogue init`
    // writes the template: lumora/endpoints.conf in $XDG_CONFIG_HOME (default ~/.config).
    static QString userFile();
    // Searches lumora/endpoints.conf in the generic config locations ($XDG_CONFIG_HOME,
    // then each of $XDG_CONFIG_DIRS) and reads the first usable one. No file: empty table.
    static EndpointTable loadConfigured(QList<ConfigMessage> *messages = nullptr,
                                        QString *usedPath = nullptr);

    // Configuration files larger than this are refused whole.
    static constexpr qint64 kMaxFileSize = 1024 * 1024;

private:
    QHash<QString, QString> m_values;
};

} // namespace lumora
