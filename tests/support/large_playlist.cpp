#include "large_playlist.h"

#include <functional>

namespace lumora::test {

namespace {

// An Arabic line of a programme guide, numbered so that no two are alike.
QByteArray arabicLine(int n)
{
    return QStringLiteral("إذاعة القرآن الكريم من القاهرة – تلاوة وتفسير، البرنامج رقم %1").arg(n).toUtf8();
}

// Pieces made by piece(n), n = 0, 1, ..., appended to head while they fit before tail.
QByteArray filled(QByteArray head, const std::function<QByteArray(int)> &piece, const QByteArray &tail,
                  qsizetype maxBytes)
{
    for (int n = 0;; ++n) {
        const QByteArray next = piece(n);
        if (head.size() + next.size() + tail.size() > maxBytes)
            break;
        head += next;
    }
    return head + tail;
}

} // namespace

LargePlaylistBody largeArabicPlaylist(LargePlaylist shape, const QStringList &entries, qsizetype maxBytes)
{
    QByteArray tail;
    switch (shape) {
    case LargePlaylist::M3uTitles:
        for (const QString &e : entries)
            tail += "#EXTINF:-1," + arabicLine(0) + "\n" + e.toUtf8() + "\n";
        return {"audio/x-mpegurl",
                filled("#EXTM3U\n", [](int n) { return "#EXTINF:-1," + arabicLine(n) + "\n"; }, tail, maxBytes)};
    case LargePlaylist::PlsTitles: {
        const int first = 100000; // the filler's titles come after the entries' numbers
        for (int i = 0; i < entries.size(); ++i)
            tail += "File" + QByteArray::number(i + 1) + "=" + entries[i].toUtf8() + "\n";
        tail += "NumberOfEntries=" + QByteArray::number(entries.size()) + "\nVersion=2\n";
        return {"audio/x-scpls", filled("[playlist]\n", [](int n) {
                    return "Title" + QByteArray::number(first + n) + "=" + arabicLine(n) + "\n";
                }, tail, maxBytes)};
    }
    case LargePlaylist::HtmlPage:
        for (const QString &e : entries)
            tail += "<embed src=\"" + e.toUtf8() + "\" type=\"audio/mpeg\">\n";
        tail += "</body></html>\n";
        return {"text/html; charset=utf-8",
                filled("<!DOCTYPE html>\n<html dir=\"rtl\" lang=\"ar\"><head><title>" + arabicLine(0)
                           + "</title></head><body>\n",
                       [](int n) { return "<p>" + arabicLine(n) + "</p>\n"; }, tail, maxBytes)};
    case LargePlaylist::LongEntry: {
        for (const QString &e : entries)
            tail += e.toUtf8() + "\n";
        // One relative address of Arabic words, all on one line.
        const QByteArray head = "#EXTM3U\n#EXTINF:-1," + arabicLine(0) + "\n";
        return {"audio/x-mpegurl", filled(head, [](int n) { return arabicLine(n).replace(' ', '_'); }, "\n" + tail,
                                          maxBytes)};
    }
    }
    return {};
}

QList<std::pair<const char *, LargePlaylist>> largePlaylistShapes()
{
    return {{"M3U of Arabic titles", LargePlaylist::M3uTitles},
            {"PLS of Arabic titles", LargePlaylist::PlsTitles},
            {"Arabic page with an embedded player", LargePlaylist::HtmlPage},
            {"M3U whose first entry is a mebibyte of Arabic", LargePlaylist::LongEntry}};
}

} // namespace lumora::test
