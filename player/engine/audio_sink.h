#pragma once

#include <QtGlobal>

namespace lumora {

// Takes the audio a player decodes in place of the sound device: signed 16-bit mono samples
// at kRate. For recording what plays and for measuring it. takeSamples is called on the
// decoder's own thread, never on the GUI thread, and must not block for long.
class AudioSink {
public:
    static constexpr int kRate = 44100;

    virtual ~AudioSink() = default;
    virtual void takeSamples(const qint16 *samples, qsizetype count) = 0;
};

} // namespace lumora
