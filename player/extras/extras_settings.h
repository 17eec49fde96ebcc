#pragma once

#include <QString>

namespace lumora {

// What a listener chose for the player's extras, the same for every page, kept in
// $XDG_CONFIG_HOME/lumora/player-extras.json.
struct ExtrasSettings {
    bool notifyTitles = false;  // a desktop notification when a station's title changes
    bool evenLoudness = false;  // stations evened out by libVLC's compressor
    QString recordFolder;       // empty: recordFolderDefault()
    bool recordPerTitle = false; // a new file at each title change

    bool operator==(const ExtrasSettings &) const = default;

    // The folder recordings go to: recordFolder, or the music folder's "Lumora".
    QString recordingFolder() const;
    static QString recordFolderDefault();

    static QString filePath();
    // What the file holds; defaults when it is missing. A damaged file gives the defaults
    // and, in *error, what is wrong with it.
    static ExtrasSettings load(QString *error = nullptr);
    // Written atomically (a new file renamed over the old one). false: not written, *error why.
    bool save(QString *error = nullptr) const;
};

} // namespace lumora
