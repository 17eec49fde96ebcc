#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace lumora {

// AES-128 in CBC mode with PKCS#7 padding, as HTTP Live Streaming encrypts whole segments
// (EXT-X-KEY METHOD=AES-128), through OpenSSL's libcrypto.
namespace aes128cbc {

// The plain bytes of data; nothing when the key or IV is not 16 bytes, data is not a whole
// number of blocks, or the padding is wrong (the wrong key).
std::optional<QByteArray> decrypt(QByteArrayView data, QByteArrayView key, QByteArrayView iv);
// For servers of the tests (the simulator): data encrypted and padded.
std::optional<QByteArray> encrypt(QByteArrayView data, QByteArrayView key, QByteArrayView iv);

// The IV of a segment whose key names none: its media sequence number, big-endian, in 16 bytes.
QByteArray sequenceIv(qint64 sequence);

} // namespace aes128cbc

} // namespace lumora
