#include "playlist_writer.h"

namespace lumora::sim {
namespace {

QByteArray xmlEscaped(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

bool isAsxFamily(Answer a)
{
    return a == Answer::AsxTidy || a == Answer::AsxServerStyle || a == Answer::Wvx
        || a == Answer::ScriptAsx;
}

// Well-formed ASX as an editor writes it.
QByteArray tidyAsx(const QString &title, const QString &ref)
{
    return "<asx version=\"3.0\">\n"
           "  <title>" + xmlEscaped(title) + "</title>\n"
           "  <entry>\n"
           "    <title>" + xmlEscaped(title) + "</title>\n"
           "    <ref href=\"" + xmlEscaped(ref) + "\"/>\n"
           "  </entry>\n"
           "</asx>\n";
}

// ASX the way streaming servers and portal scripts emit it: upper-case tags, CRLF, and the
// reference copied in raw, '&' unescaped.
QByteArray serverAsx(const QString &title, const QString &ref)
{
    return "<ASX VERSION=\"3.0\">\r\n"
           "<TITLE>" + title.toUtf8() + "</TITLE>\r\n"
           "<ENTRY>\r\n"
           "<TITLE>" + title.toUtf8() + "</TITLE>\r\n"
           "<PARAM NAME=\"Prebuffer\" VALUE=\"true\" />\r\n"
           "<REF HREF=\"" + ref.toUtf8() + "\" />\r\n"
           "</ENTRY>\r\n"
           "</ASX>\r\n";
}

QByteArray wvx(const QString &title, const QString &ref)
{
    return "<ASX version=\"3.0\">\r\n"
           "  <Title>" + xmlEscaped(title) + "</Title>\r\n"
           "  <Entry>\r\n"
           "    <Ref href=\"" + xmlEscaped(ref) + "\" />\r\n"
           "  </Entry>\r\n"
           "</ASX>\r\n";
}

QByteArray m3u(const QString &title, const QStringList &refs)
{
    QByteArray body = "#EXTM3U\n";
    for (const QString &ref : refs)
        body += "#EXTINF:-1," + title.toUtf8() + "\n" + ref.toUtf8() + "\n";
    return body;
}

QByteArray m3u(const QString &title, const QString &ref)
{
    return m3u(title, QStringList{ref});
}

// Entries that reach a local file, a capture device and a listening UDP socket.
constexpr const char *kLocalEntries[] = {"file:///etc/passwd", "v4l2:///dev/video0", "udp://@:5004"};

QByteArray pls(const QString &title, const QString &ref)
{
    return "[playlist]\nNumberOfEntries=1\nFile1=" + ref.toUtf8() + "\nTitle1=" + title.toUtf8()
        + "\nLength1=-1\nVersion=2\n";
}

QByteArray wpl(const QString &title, const QString &ref)
{
    return "<?wpl version=\"1.0\"?>\r\n"
           "<smil>\r\n"
           "  <head>\r\n"
           "    <meta name=\"Generator\" content=\"Microsoft Windows Media Player -- 11.0.5721.5145\"/>\r\n"
           "    <title>" + xmlEscaped(title) + "</title>\r\n"
           "  </head>\r\n"
           "  <body>\r\n"
           "    <seq>\r\n"
           "      <media src=\"" + xmlEscaped(ref) + "\"/>\r\n"
           "    </seq>\r\n"
           "  </body>\r\n"
           "</smil>\r\n";
}

QByteArray htmlPage(const QString &title, const QByteArray &player)
{
    return "<!DOCTYPE html>\n<html dir=\"rtl\" lang=\"ar\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<title>" + xmlEscaped(title) + "</title>\n</head>\n<body>\n<h1>" + xmlEscaped(title)
        + "</h1>\n" + player + "</body>\n</html>\n";
}

} // namespace

QString streamLinkOf(const ServedStation &s)
{
    if (!s.embeddedAddress.isEmpty())
        return s.embeddedAddress;
    const QString base = s.host + u':' + QString::number(s.port);
    if (s.link == StreamLink::Mms)
        return QStringLiteral("mms://") + base + QLatin1StringView(kMmsStreamPrefix)
            + QString::number(s.index);
    QString link = QStringLiteral("http://") + base + QLatin1StringView(kHttpStreamPrefix)
        + QString::number(s.index) + QStringLiteral(".mp3");
    if (s.answer == Answer::AsxServerStyle)
        link += QStringLiteral("?src=asx&n=%1").arg(s.index);
    return link;
}

Document documentOf(const ServedStation &s)
{
    const QString ref = streamLinkOf(s);
    const QString &title = s.caption;
    switch (s.answer) {
    case Answer::AsxTidy: return {"video/x-ms-asf", tidyAsx(title, ref)};
    case Answer::AsxServerStyle: return {"video/x-ms-asf", serverAsx(title, ref)};
    case Answer::Wvx: return {"video/x-ms-wvx", wvx(title, ref)};
    case Answer::M3u: return {"audio/x-mpegurl", m3u(title, ref)};
    case Answer::Pls: return {"audio/x-scpls", pls(title, ref)};
    case Answer::Wpl: return {"application/vnd.ms-wpl", wpl(title, ref)};
    case Answer::ScriptAsx: return {"text/html; charset=utf-8", serverAsx(title, ref)};
    case Answer::ScriptM3u: return {"text/html; charset=utf-8", m3u(title, ref)};
    case Answer::ScriptPls: return {"text/html; charset=utf-8", pls(title, ref)};
    case Answer::HtmlEmbed:
        return {"text/html; charset=utf-8",
                htmlPage(title, "<embed src=\"" + xmlEscaped(ref)
                                    + "\" type=\"audio/mpeg\" autostart=\"true\" width=\"300\" height=\"45\">\n")};
    case Answer::HtmlAudio:
        return {"text/html; charset=utf-8",
                htmlPage(title, "<audio controls autoplay>\n  <source src=\"" + xmlEscaped(ref)
                                    + "\" type=\"audio/mpeg\">\n</audio>\n")};
    case Answer::HtmlObject:
        return {"text/html; charset=utf-8",
                htmlPage(title,
                         "<object id=\"MediaPlayer\" classid=\"CLSID:6BF52A52-394A-11d3-B153-00C04F79FAA6\" "
                         "width=\"300\" height=\"45\">\n"
                         "  <param name=\"URL\" value=\"" + xmlEscaped(ref) + "\">\n"
                         "  <param name=\"autoStart\" value=\"true\">\n"
                         "  <embed type=\"application/x-mplayer2\" src=\"" + xmlEscaped(ref) + "\">\n"
                         "</object>\n")};
    default:
        return {};
    }
}

Document selfReferencingPlaylist(const ServedStation &s)
{
    if (isAsxFamily(s.answer))
        return {"video/x-ms-asf", serverAsx(s.caption, s.address)};
    return {"audio/x-mpegurl", m3u(s.caption, s.address)};
}

Document m3uOf(const ServedStation &s)
{
    return {"audio/x-mpegurl", m3u(s.caption, streamLinkOf(s))};
}

Document localEntriesPlaylist(const ServedStation &s)
{
    QStringList refs;
    for (const char *entry : kLocalEntries)
        refs.append(QString::fromLatin1(entry));
    refs.append(streamLinkOf(s));
    return {"audio/x-mpegurl", m3u(s.caption, refs)};
}

Document hugePlaylist(const ServedStation &s, qsizetype minBytes)
{
    const bool asx = isAsxFamily(s.answer);
    const QByteArray base = ("http://" + s.host + u':' + QString::number(s.port)
                             + QLatin1StringView(kHttpStreamPrefix) + QString::number(s.index)
                             + QStringLiteral(".mp3?entry="))
                                .toUtf8();
    QByteArray body;
    body.reserve(minBytes + 256);
    body += asx ? QByteArrayLiteral("<asx version=\"3.0\">\n") : QByteArrayLiteral("#EXTM3U\n");
    for (int n = 1; body.size() < minBytes; ++n) {
        const QByteArray ref = base + QByteArray::number(n);
        if (asx)
            body += "<entry><ref href=\"" + ref + "\"/></entry>\n";
        else
            body += "#EXTINF:-1,entry " + QByteArray::number(n) + "\n" + ref + "\n";
    }
    if (asx)
        body += "</asx>\n";
    return {asx ? QByteArrayLiteral("video/x-ms-asf") : QByteArrayLiteral("audio/x-mpegurl"), body};
}

} // namespace lumora::sim
