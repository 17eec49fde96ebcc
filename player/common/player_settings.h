#pragma once

#include <QByteArrayView>
#include <QSize>
#include <QString>
#include <optional>

namespace lumora {

// The settings a station page's player is created with, the same on every page. They are
// kept in the player's persisted form (storedForm) and decoded when a page is created.
struct PlayerSettings {
    QString URL;                 // empty: the player starts idle
    double rate = 0;             // 1.0: normal speed
    qint32 balance = 0;          // 0: centred
    double currentPosition = 0;  // 0.0: at the start
    QString defaultFrame;
    qint32 playCount = 0;        // 1: a media item plays once
    bool autoStart = false;      // writing URL starts playback by itself
    qint32 currentMarker = 0;
    bool invokeURLs = false;     // see PlayerControl: such commands are never acted on
    QString baseURL;
    qint32 volume = 0;           // 0 to 100
    bool mute = false;
    QString uiMode;              // "full": picture area, position bar, buttons, volume
    bool stretchToFit = false;   // false, the only value decode() takes: the picture keeps its aspect
    bool windowlessVideo = false; // false: video has a window of its own
    bool enabled = false;        // the user can operate the player's controls
    bool enableContextMenu = false;
    bool fullScreen = false;
    QString SAMIStyle;
    QString SAMILang;
    QString SAMIFilename;
    QString captioningID;
    bool enableErrorDialogs = false;
    qint32 _cx = 0;              // width in HIMETRIC (0.01 mm)
    qint32 _cy = 0;              // height in HIMETRIC

    // The 164-byte persisted stream, little-endian: the 32-bit value 0x300; the 23 settings
    // from URL to enableErrorDialogs in the order above, each a 16-bit type tag and its
    // value (8 string: 32-bit byte count, then UTF-16 text with its NUL, which the count
    // includes; 3 signed 32-bit integer; 5 64-bit double; 11 boolean, 16 bits, true 0xFFFF);
    // then _cx and _cy as signed 32-bit integers without tags.
    static QByteArrayView storedForm();

    // Decodes a persisted stream; a damaged one gives nullopt and, in *error, what is wrong.
    static std::optional<PlayerSettings> decode(QByteArrayView stream, QString *error = nullptr);

    // storedForm() decoded. Throws lumora::PlayerFailure if the stream is damaged.
    static PlayerSettings stored();

    // The extent in pixels at 96 dots per inch (12303 x 2566 HIMETRIC: 465 x 97).
    QSize pixelSize() const;
};

} // namespace lumora
