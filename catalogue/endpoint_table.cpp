#include "endpoint_table.h"

#include "authority.h"
#include "key_schema.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcEndpoints, "lumora.endpoints", QtInfoMsg)

namespace lumora {
namespace {


bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }
bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool isLowerHex(QChar c) { return isAsciiDigit(c) || (c >= u'a' && c <= u'f'); }
bool isHex(QChar c) { return isLowerHex(c) || (c >= u'A' && c <= u'F'); }

bool allOf(QStringView s, bool (*pred)(QChar))
{
    for (QChar c : s)
        if (!pred(c))
            return false;
    return true;
}

bool isIPv4(QStringView s)
{
    const auto parts = s.split(u'.');
    if (parts.size() != 4)
        return false;
    for (QStringView p : parts) {
        if (p.isEmpty() || p.size() > 3 || !allOf(p, isAsciiDigit))
            return false;
        if (p.size() > 1 && p.front() == u'0')
            return false;
        if (p.toInt() > 255)
            return false;
    }
    return true;
}

bool isIPv6(QStringView s)
{
    if (s.size() < 2 || s.size() > 45)
        return false;
    const qsizetype gap = s.indexOf(u"::");
    if (gap >= 0 && s.indexOf(u"::", gap + 1) >= 0)
        return false;
    int groups = 0;
    const auto parts = s.split(u':');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QStringView p = parts[i];
        if (p.isEmpty())
            continue; // part of "::" (checked above) or a leading/trailing colon of it
        if (i == parts.size() - 1 && p.contains(u'.')) {
            if (!isIPv4(p))
                return false;
            groups += 2;
            continue;
        }
        if (p.size() > 4 || !allOf(p, isHex))
            return false;
        ++groups;
    }
    // A lone leading or trailing ':' that is not part of "::" is malformed.
    if ((s.startsWith(u':') && !s.startsWith(u"::")) || (s.endsWith(u':') && !s.endsWith(u"::")))
        return false;
    return gap >= 0 ? groups < 8 : groups == 8;
}

bool isDnsName(QStringView s)
{
    if (s.isEmpty() || s.size() > 253)
        return false;
    bool allNumeric = true;
    for (QStringView label : s.split(u'.')) {
        if (label.isEmpty() || label.size() > 63)
            return false;
        if (label.front() == u'-' || label.back() == u'-')
            return false;
        for (QChar c : label)
            if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != u'-')
                return false;
        if (!allOf(label, isAsciiDigit))
            allNumeric = false;
    }
    return !allNumeric; // all-numeric names must be IPv4 addresses
}

QString validateEndpoint(QStringView v)
{
    if (v.contains(u'@')) // no user name goes into a station's address
        return QStringLiteral("\"%1\" is not a host name or IPv4 address").arg(v);
    const Authority a = splitAuthority(v);
    if (a.problem)
        return QString::fromLatin1(a.problem);
    if (!a.port.isNull() && a.port.isEmpty())
        return QStringLiteral("':' without a port");
    if (a.bracketed) {
        if (!isIPv6(a.host))
            return QStringLiteral("\"%1\" is not an IPv6 address").arg(a.host);
    } else if (!isIPv4(a.host) && !isDnsName(a.host)) {
        return QStringLiteral("\"%1\" is not a host name or IPv4 address "
                              "(IPv6 addresses go in brackets)").arg(a.host);
    }
    if (!a.port.isNull() && !portNumber(a.port))
        return QStringLiteral("port \"%1\" is not a number from 1 to 65535").arg(a.port);
    return {};
}

// A station's whole address given by the listener: a scheme Lumora plays, a host as an
// endpoint takes it, then any path. Kept exactly as written; only what no address holds
// (spaces, control and direction characters) is refused.
QString validateOverride(QStringView v)
{
    constexpr qsizetype kMaxLength = 2048;
    if (v.size() > kMaxLength)
        return QStringLiteral("longer than %1 characters").arg(kMaxLength);
    for (QChar c : v)
        if (c.isSpace() || c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return QStringLiteral("an address holds no spaces, control or direction characters");
    const qsizetype sep = v.indexOf(u"://");
    if (sep <= 0 || !keys::isOverrideScheme(v.left(sep)))
        return QStringLiteral("must start with http://, https://, mms:// or mmsh://");
    const QStringView rest = v.mid(sep + 3);
    qsizetype hostEnd = rest.size();
    for (const QChar end : {u'/', u'?', u'#'})
        if (const qsizetype at = rest.indexOf(end); at >= 0)
            hostEnd = qMin(hostEnd, at);
    if (hostEnd == 0)
        return QStringLiteral("no host after \"%1\"").arg(v.left(sep + 3));
    return validateEndpoint(rest.left(hostEnd));
}

// A bit rate as a whole number of bits per second. The usual slips (kbit/s written as "128k"
// or "128", a unit after the number) are answered with the number to write instead.
QString validateBitRate(QStringView v)
{
    const QString range = QStringLiteral("a whole number of bits per second from %1 to %2")
                              .arg(keys::kMinBitRate).arg(keys::kMaxBitRate);
    qsizetype digits = 0;
    while (digits < v.size() && isAsciiDigit(v[digits]))
        ++digits;
    if (digits == 0 || digits > 12)
        return QStringLiteral("must be %1, for example %2").arg(range).arg(128000);
    const qint64 number = v.left(digits).toLongLong();
    const QStringView unit = v.mid(digits).trimmed();
    if (!unit.isEmpty()) {
        if (unit.startsWith(u'k', Qt::CaseInsensitive) && number * 1000 <= keys::kMaxBitRate)
            return QStringLiteral("must be %1: write %2 for %3 kbit/s").arg(range).arg(number * 1000).arg(number);
        return QStringLiteral("must be %1, without a unit, for example %2").arg(range).arg(128000);
    }
    if (number < keys::kMinBitRate) {
        if (number > 0 && number * 1000 <= keys::kMaxBitRate)
            return QStringLiteral("must be %1 (is %2 meant in kbit/s? then write %3)")
                .arg(range).arg(number).arg(number * 1000);
        return QStringLiteral("must be %1").arg(range);
    }
    if (number > keys::kMaxBitRate)
        return QStringLiteral("must be %1").arg(range);
    return {};
}

bool isNameChar(QChar c)
{
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'.' || c == u'_' || c == u'-';
}

bool isGuid(QStringView v)
{
    static constexpr int kGroups[] = {8, 4, 4, 4, 12};
    const auto parts = v.split(u'-');
    if (parts.size() != 5)
        return false;
    for (int i = 0; i < 5; ++i)
        if (parts[i].size() != kGroups[i] || !allOf(parts[i], isLowerHex))
            return false;
    return true;
}

void report(QList<ConfigMessage> *messages, const QString &file, int line, const QString &text)
{
    const ConfigMessage m{file, line, text};
    qCWarning(lcEndpoints).noquote() << m.toString();
    if (messages)
        messages->append(m);
}

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Bytes that do not occur in text: NUL and the control characters other than tab, line feed,
// form feed, carriage return and escape.
bool isBinaryByte(unsigned char c)
{
    return c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1b;
}

// A line holds text when it is UTF-8 without bytes that text never holds.
bool isTextLine(const QByteArray &line, QString *decoded)
{
    if (std::any_of(line.begin(), line.end(),
                    [](char c) { return isBinaryByte(static_cast<unsigned char>(c)); }))
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *decoded = utf8(line);
    return !utf8.hasError();
}

bool isCommentOrBlank(const QByteArray &trimmedLine)
{
    return trimmedLine.isEmpty() || trimmedLine.startsWith('#');
}

// A file that is mostly not text (a picture, an archive, a UTF-16 file) is no configuration:
// more than a tenth of its bytes are ones that text never holds, or most of its lines (three
// at least) that are not comments are not text. A single bad line is only that line's problem.
bool mostlyNotText(const QByteArray &content)
{
    qsizetype binary = 0;
    for (const char c : content)
        binary += isBinaryByte(static_cast<unsigned char>(c)) ? 1 : 0;
    if (binary * 10 > content.size())
        return true;
    int lines = 0;
    int notText = 0;
    QString decoded;
    for (const QByteArray &line : content.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (isCommentOrBlank(trimmed))
            continue;
        ++lines;
        notText += isTextLine(trimmed, &decoded) ? 0 : 1;
    }
    return notText >= 3 && notText * 2 > lines;
}

// Reads one file; nullopt (with one message) when the file cannot be used at all.
// The file is opened without blocking (a FIFO put in its place must not hang the program)
// and judged on the opened descriptor, so that what is checked is what is read.
std::optional<EndpointTable> readFile(const QString &path, QList<ConfigMessage> *messages)
{
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(),
                                   O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.valid()) {
        report(messages, path, 0,
               QStringLiteral("cannot be opened (%1); ignored").arg(systemError(errno)));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        report(messages, path, 0,
               QStringLiteral("cannot be examined (%1); ignored").arg(systemError(errno)));
        return std::nullopt;
    }
    if (S_ISDIR(info.st_mode)) {
        report(messages, path, 0, QStringLiteral("is a directory, not a configuration file; ignored"));
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        report(messages, path, 0, QStringLiteral("is not a regular file; ignored"));
        return std::nullopt;
    }

    // Read to the end rather than trusting st_size: some files (those under /proc) report a
    // size of 0 and still have content, others fail only when read.
    QByteArray content;
    char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            report(messages, path, 0,
                   QStringLiteral("could not be read (%1); ignored").arg(systemError(errno)));
            return std::nullopt;
        }
        if (n == 0)
            break;
        content.append(buffer, n);
        if (content.size() > EndpointTable::kMaxFileSize) {
            report(messages, path, 0,
                   QStringLiteral("is larger than %1 KiB; ignored").arg(EndpointTable::kMaxFileSize / 1024));
            return std::nullopt;
        }
    }
    if (mostlyNotText(content)) {
        report(messages, path, 0, QStringLiteral("is binary, not text; ignored"));
        return std::nullopt;
    }
    return EndpointTable::parse(content, path, messages);
}

} // namespace

QString ConfigMessage::toString() const
{
    if (line > 0)
        return QStringLiteral("%1:%2: %3").arg(file).arg(line).arg(text);
    return QStringLiteral("%1: %2").arg(file, text);
}

const QStringList &EndpointTable::allKeys()
{
    static const QStringList keys = [] {
        QStringList k;
        for (int i = 1; i <= keys::kEndpointCount; ++i)
            k.append(keys::endpointKey(i));
        for (const KeyRow &p : keys::pieces())
            k.append(QString::fromLatin1(p.key));
        return k;
    }();
    return keys;
}

std::optional<EndpointTable::KeyType> EndpointTable::keyType(QStringView key)
{
    return keys::kindOf(key);
}

qint64 EndpointTable::hlsMaxBandwidth() const
{
    // Only valid values are kept.
    return value(QString::fromLatin1(keys::kHlsMaxBandwidth)).value_or(QString()).toLongLong();
}

QStringList EndpointTable::overrides() const
{
    QStringList found;
    for (const Station &s : allStations())
        if (const QString key = keys::overrideKey(s); m_values.contains(key))
            found.append(key);
    return found;
}

bool EndpointTable::isKnownKey(QStringView key)
{
    return keyType(key).has_value();
}

QString EndpointTable::validate(QStringView key, QStringView value)
{
    const auto type = keyType(key);
    if (!type)
        return QStringLiteral("unknown key \"%1\"").arg(key);
    if (value.isEmpty())
        return QStringLiteral("empty value");
    switch (*type) {
    case KeyType::Endpoint:
        return validateEndpoint(value);
    case KeyType::Id:
        if (value.size() != 32 || !allOf(value, isLowerHex))
            return QStringLiteral("must be 32 lowercase hexadecimal digits");
        return {};
    case KeyType::Stream:
        if (!isGuid(value))
            return QStringLiteral("must be a lowercase GUID like 01234567-89ab-cdef-0123-456789abcdef");
        return {};
    case KeyType::Name:
        if (!allOf(value, isNameChar))
            return QStringLiteral("may hold only letters A-Z a-z, digits, '.', '_' and '-'");
        return {};
    case KeyType::Override:
        return validateOverride(value);
    case KeyType::BitRate:
        return validateBitRate(value);
    }
    return {};
}

std::optional<QString> EndpointTable::value(QStringView key) const
{
    const auto it = m_values.constFind(key.toString());
    if (it == m_values.constEnd())
        return std::nullopt;
    return *it;
}

EndpointTable EndpointTable::parse(const QByteArray &content, const QString &fileName,
                                   QList<ConfigMessage> *messages)
{
    EndpointTable table;
    QByteArray bytes = content;
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);

    // Line by line: a line that is not UTF-8 (a stray byte, a line saved in another code page)
    // is reported and skipped on its own, and a comment line is skipped whatever its bytes.
    QHash<QString, int> seenAt;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = int(i + 1);
        const QByteArray rawLine = lines[i].trimmed();
        if (isCommentOrBlank(rawLine))
            continue;
        QString decoded;
        if (!isTextLine(rawLine, &decoded)) {
            report(messages, fileName, lineNo, QStringLiteral("is not UTF-8 text; line ignored"));
            continue;
        }
        const QStringView trimmed(decoded);
        const qsizetype eq = trimmed.indexOf(u'=');
        if (eq < 0) {
            report(messages, fileName, lineNo, QStringLiteral("expected KEY = VALUE"));
            continue;
        }
        const QString key = trimmed.left(eq).trimmed().toString();
        const QString value = trimmed.mid(eq + 1).trimmed().toString();
        if (key.isEmpty()) {
            report(messages, fileName, lineNo, QStringLiteral("no key before '='"));
            continue;
        }
        if (!isKnownKey(key)) {
            report(messages, fileName, lineNo, QStringLiteral("unknown key \"%1\"").arg(key));
            continue;
        }
        if (const auto earlier = seenAt.constFind(key); earlier != seenAt.constEnd())
            report(messages, fileName, lineNo,
                   QStringLiteral("%1 is given again; this value replaces the one on line %2")
                       .arg(key).arg(*earlier));
        seenAt.insert(key, lineNo);
        table.m_values.remove(key);
        if (value.isEmpty())
            continue; // left empty on purpose: not configured
        const QString problem = validate(key, value);
        if (!problem.isEmpty()) {
            report(messages, fileName, lineNo,
                   QStringLiteral("bad value for %1: %2").arg(key, problem));
            continue;
        }
        table.m_values.insert(key, value);
    }
    return table;
}

EndpointTable EndpointTable::load(const QString &path, QList<ConfigMessage> *messages,
                                  bool missingIsSilent)
{
    if (!QFileInfo::exists(path)) {
        if (!missingIsSilent)
            report(messages, path, 0, QStringLiteral("no such file"));
        return {};
    }
    return readFile(path, messages).value_or(EndpointTable{});
}

QString EndpointTable::userFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/lumora/endpoints.conf");
}

EndpointTable EndpointTable::loadConfigured(QList<ConfigMessage> *messages, QString *usedPath)
{
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (const QString &dir : dirs) {
        const QString path = dir + QStringLiteral("/lumora/endpoints.conf");
        if (!QFileInfo::exists(path))
            continue;
        if (auto table = readFile(path, messages)) {
            if (usedPath)
                *usedPath = path;
            return *table;
        }
        // An unusable file counts as absent: look further along the search path.
    }
    return {};
}

} // namespace lumora
