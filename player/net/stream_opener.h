#pragma once

#include "player/common/player_status.h"
#include "stream_source.h"

#include <QObject>
#include <QString>
#include <memory>

namespace lumora {

// What the playback policy needs of the network side: the open stream behind an address,
// one playlist entry after another. StreamResolver in the program.
class StreamOpener : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~StreamOpener() override = default;

    // Starts opening address (as written), abandoning any earlier opening. found() or
    // failed() follow, never from inside this call.
    virtual void resolve(const QString &address) = 0;
    // What found() gave could not be played: go on with the next entry.
    virtual void next() = 0;
    // Abandons the opening; no further signal comes from it.
    virtual void cancel() = 0;
    // After found(): the open stream, or nothing for an address libVLC opens itself (mmst).
    virtual std::unique_ptr<StreamSource> takeSource() = 0;
    // After failed(): why.
    virtual OpenFailure failure() const = 0;
    virtual int serverStatus() const = 0;

signals:
    void found(const QString &streamAddress);
    void failed(const QString &reason);
};

} // namespace lumora
