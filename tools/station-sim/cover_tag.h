#pragma once

#include <QByteArray>
#include <QString>

namespace lumora::sim {

inline constexpr qsizetype kCoverPictureBytes = 300 * 1024;

// An ID3v2.3 tag as a tagger writes it at the start of an MP3 file: a cover picture (APIC,
// "image/jpeg", pictureBytes of picture data that starts as a JPEG does) and then the title
// (TIT2, UTF-16 with a byte order mark), so that the title is read only by one who reads
// the whole tag. The picture's bytes are the same every time.
// v as an ID3v2 tag's size is written: four bytes of seven bits each, the highest first.
QByteArray id3SyncSafe(quint32 v);

QByteArray coverTag(const QString &title, qsizetype pictureBytes = kCoverPictureBytes);

} // namespace lumora::sim
