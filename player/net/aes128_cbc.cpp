#include "aes128_cbc.h"

#include <openssl/evp.h>

#include <memory>

namespace lumora::aes128cbc {

namespace {

struct ContextFree {
    void operator()(EVP_CIPHER_CTX *c) const { EVP_CIPHER_CTX_free(c); }
};

std::optional<QByteArray> run(QByteArrayView data, QByteArrayView key, QByteArrayView iv, bool encrypt)
{
    constexpr int kBlock = 16;
    if (key.size() != kBlock || iv.size() != kBlock || data.size() > (qsizetype(1) << 30))
        return std::nullopt;
    if (!encrypt && (data.isEmpty() || data.size() % kBlock != 0))
        return std::nullopt;
    const std::unique_ptr<EVP_CIPHER_CTX, ContextFree> ctx(EVP_CIPHER_CTX_new());
    if (!ctx)
        return std::nullopt;
    const auto *k = reinterpret_cast<const unsigned char *>(key.data());
    const auto *v = reinterpret_cast<const unsigned char *>(iv.data());
    if (EVP_CipherInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, k, v, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    QByteArray out(data.size() + kBlock, Qt::Uninitialized);
    int written = 0;
    if (EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char *>(out.data()), &written,
                         reinterpret_cast<const unsigned char *>(data.data()), int(data.size())) != 1)
        return std::nullopt;
    int last = 0;
    if (EVP_CipherFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(out.data()) + written, &last) != 1)
        return std::nullopt;
    out.truncate(written + last);
    return out;
}

} // namespace

std::optional<QByteArray> decrypt(QByteArrayView data, QByteArrayView key, QByteArrayView iv)
{
    return run(data, key, iv, false);
}

std::optional<QByteArray> encrypt(QByteArrayView data, QByteArrayView key, QByteArrayView iv)
{
    return run(data, key, iv, true);
}

QByteArray sequenceIv(qint64 sequence)
{
    QByteArray iv(16, '\0');
    for (int i = 0; i < 8; ++i)
        iv[15 - i] = char((quint64(sequence) >> (8 * i)) & 0xFF);
    return iv;
}

} // namespace lumora::aes128cbc
