// JOSE framing over libcrypto (see jose.h).
#include "jose.h"

#include "cryptolib.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>
#include <memory>

namespace jose {

namespace {

const char B64URL[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const int CEK_BYTES = 32;   // A256GCM
const int IV_BYTES = 12;
const int TAG_BYTES = 16;
const int MIN_RSA_BITS = 2048;
const int MAX_RSA_BITS = 8192;
const int MAX_JWK_BYTES = 16384;

int DecodedValue(char c)
{
    const char* p = c ? std::strchr(B64URL, c) : nullptr;
    return p ? int(p - B64URL) : -1;
}

QString Text(const QJsonObject& o, const char* pszKey) { return o.value(QLatin1String(pszKey)).toString(); }

// A base64url member that must be present and decode.
bool Member(const QJsonObject& o, const char* pszKey, QByteArray* pData, QString* pWhy)
{
    const QJsonValue value = o.value(QLatin1String(pszKey));
    if (!value.isString() || !FromBase64Url(value.toString().toLatin1(), pData) || pData->isEmpty()) {
        *pWhy = QStringLiteral("JWK member \"") + QLatin1String(pszKey) + QStringLiteral("\" missing or not base64url");
        return false;
    }
    return true;
}

int BitLength(const QByteArray& bigEndian)
{
    if (bigEndian.isEmpty())
        return 0;
    int nBits = (bigEndian.size() - 1) * 8;
    for (unsigned char top = static_cast<unsigned char>(bigEndian[0]); top; top >>= 1)
        ++nBits;
    return nBits;
}

void AppendBigEndian32(QByteArray* pOut, quint32 n)
{
    const char bytes[4] = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
    pOut->append(bytes, 4);
}

// libcrypto objects freed on every way out.
struct PkeyFree {
    const CryptoLib* pLib;
    void operator()(EVP_PKEY* p) const { pLib->EVP_PKEY_free(p); }
};
struct PkeyCtxFree {
    const CryptoLib* pLib;
    void operator()(EVP_PKEY_CTX* p) const { pLib->EVP_PKEY_CTX_free(p); }
};
struct CipherCtxFree {
    const CryptoLib* pLib;
    void operator()(EVP_CIPHER_CTX* p) const { pLib->EVP_CIPHER_CTX_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

Pkey RsaKey(const CryptoLib& lib, const PublicJwk& key)
{
    Pkey pkey(lib.EVP_PKEY_new(), PkeyFree{&lib});
    RSA* pRsa = lib.RSA_new();
    BIGNUM* pN = lib.BN_bin2bn(reinterpret_cast<const unsigned char*>(key.n.constData()), key.n.size(), nullptr);
    BIGNUM* pE = lib.BN_bin2bn(reinterpret_cast<const unsigned char*>(key.e.constData()), key.e.size(), nullptr);
    if (!pkey || !pRsa || !pN || !pE || lib.RSA_set0_key(pRsa, pN, pE, nullptr) != 1) {
        lib.BN_free(pN);
        lib.BN_free(pE);
        if (pRsa)
            lib.RSA_free(pRsa);
        return Pkey(nullptr, PkeyFree{&lib});
    }
    if (lib.EVP_PKEY_assign(pkey.get(), EVP_PKEY_RSA, pRsa) != 1) {
        lib.RSA_free(pRsa); // owns n and e now
        return Pkey(nullptr, PkeyFree{&lib});
    }
    return pkey;
}

Pkey EcKey(const CryptoLib& lib, const PublicJwk& key)
{
    Pkey pkey(lib.EVP_PKEY_new(), PkeyFree{&lib});
    EC_KEY* pEc = lib.EC_KEY_new_by_curve_name(key.nCurveBytes == 48 ? NID_secp384r1 : NID_X9_62_prime256v1);
    BIGNUM* pX = lib.BN_bin2bn(reinterpret_cast<const unsigned char*>(key.x.constData()), key.x.size(), nullptr);
    BIGNUM* pY = lib.BN_bin2bn(reinterpret_cast<const unsigned char*>(key.y.constData()), key.y.size(), nullptr);
    // Checks that the point lies on the curve (an invalid-curve point would leak the shared secret).
    const bool bOk = pkey && pEc && pX && pY && lib.EC_KEY_set_public_key_affine_coordinates(pEc, pX, pY) == 1;
    lib.BN_free(pX);
    lib.BN_free(pY);
    if (!bOk || lib.EVP_PKEY_assign(pkey.get(), EVP_PKEY_EC, pEc) != 1) {
        if (pEc)
            lib.EC_KEY_free(pEc);
        return Pkey(nullptr, PkeyFree{&lib});
    }
    return pkey;
}

bool RsaOaepWrap(const CryptoLib& lib, const PublicJwk& key, const QByteArray& cek, QByteArray* pEncryptedKey)
{
    const Pkey pkey = RsaKey(lib, key);
    if (!pkey)
        return false;
    const PkeyCtx ctx(lib.EVP_PKEY_CTX_new(pkey.get(), nullptr), PkeyCtxFree{&lib});
    if (!ctx || lib.EVP_PKEY_encrypt_init(ctx.get()) != 1
        || lib.EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_padding_mode", "oaep") <= 0
        || lib.EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_oaep_md", "sha256") <= 0
        || lib.EVP_PKEY_CTX_ctrl_str(ctx.get(), "rsa_mgf1_md", "sha256") <= 0)
        return false;
    size_t nOut = 0;
    const auto* pIn = reinterpret_cast<const unsigned char*>(cek.constData());
    if (lib.EVP_PKEY_encrypt(ctx.get(), nullptr, &nOut, pIn, size_t(cek.size())) != 1)
        return false;
    pEncryptedKey->resize(int(nOut));
    if (lib.EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(pEncryptedKey->data()), &nOut, pIn,
                             size_t(cek.size())) != 1)
        return false;
    pEncryptedKey->resize(int(nOut));
    return true;
}

// Concat KDF with SHA-256 for a 256-bit key: one round, no party info.
QByteArray ConcatKdf(const CryptoLib& lib, const QByteArray& z, const char* pszAlg)
{
    QByteArray input;
    AppendBigEndian32(&input, 1); // round counter
    input += z;
    const int nAlgLen = int(std::strlen(pszAlg));
    AppendBigEndian32(&input, quint32(nAlgLen));
    input.append(pszAlg, nAlgLen);
    AppendBigEndian32(&input, 0); // PartyUInfo
    AppendBigEndian32(&input, 0); // PartyVInfo
    AppendBigEndian32(&input, 256); // SuppPubInfo: key length in bits
    QByteArray kek(32, '\0');
    unsigned int nLen = 0;
    const bool bOk = lib.EVP_Digest(input.constData(), size_t(input.size()), reinterpret_cast<unsigned char*>(kek.data()),
                                    &nLen, lib.EVP_sha256(), nullptr) == 1 && nLen == 32;
    lib.OPENSSL_cleanse(input.data(), size_t(input.size()));
    if (!bOk)
        kek.clear();
    return kek;
}

bool AesKeyWrap(const CryptoLib& lib, const QByteArray& kek, const QByteArray& cek, QByteArray* pWrapped)
{
    const CipherCtx ctx(lib.EVP_CIPHER_CTX_new(), CipherCtxFree{&lib});
    if (!ctx)
        return false;
    lib.EVP_CIPHER_CTX_set_flags(ctx.get(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    pWrapped->resize(cek.size() + 8 + 16); // room for a block past the 8-byte check
    int nOut = 0, nFinal = 0;
    auto* pOut = reinterpret_cast<unsigned char*>(pWrapped->data());
    if (lib.EVP_EncryptInit_ex(ctx.get(), lib.EVP_aes_256_wrap(), nullptr,
                               reinterpret_cast<const unsigned char*>(kek.constData()), nullptr) != 1
        || lib.EVP_EncryptUpdate(ctx.get(), pOut, &nOut, reinterpret_cast<const unsigned char*>(cek.constData()),
                                 cek.size()) != 1
        || lib.EVP_EncryptFinal_ex(ctx.get(), pOut + nOut, &nFinal) != 1)
        return false;
    pWrapped->resize(nOut + nFinal);
    return pWrapped->size() == cek.size() + 8;
}

// ECDH-ES+A256KW: an ephemeral key on the recipient's curve, the shared
// secret through the Concat KDF, the content key wrapped with the result.
bool EcdhWrap(const CryptoLib& lib, const PublicJwk& key, const QByteArray& cek, QByteArray* pEncryptedKey,
              QJsonObject* pEpk)
{
    const Pkey peer = EcKey(lib, key);
    if (!peer)
        return false;
    const PkeyCtx genCtx(lib.EVP_PKEY_CTX_new(peer.get(), nullptr), PkeyCtxFree{&lib});
    EVP_PKEY* pEphemeral = nullptr;
    if (!genCtx || lib.EVP_PKEY_keygen_init(genCtx.get()) != 1 || lib.EVP_PKEY_keygen(genCtx.get(), &pEphemeral) != 1)
        return false;
    const Pkey ephemeral(pEphemeral, PkeyFree{&lib});

    // The uncompressed point 04 || X || Y closes the key's DER encoding.
    const int nDer = lib.i2d_PUBKEY(ephemeral.get(), nullptr);
    const int nPoint = 1 + 2 * key.nCurveBytes;
    if (nDer < nPoint)
        return false;
    QByteArray der(nDer, '\0');
    unsigned char* pDer = reinterpret_cast<unsigned char*>(der.data());
    if (lib.i2d_PUBKEY(ephemeral.get(), &pDer) != nDer || der.at(nDer - nPoint) != 0x04)
        return false;
    const QByteArray point = der.right(nPoint);
    pEpk->insert(QStringLiteral("kty"), QStringLiteral("EC"));
    pEpk->insert(QStringLiteral("crv"), QString::fromLatin1(key.Curve()));
    pEpk->insert(QStringLiteral("x"), QString::fromLatin1(Base64Url(point.mid(1, key.nCurveBytes))));
    pEpk->insert(QStringLiteral("y"), QString::fromLatin1(Base64Url(point.mid(1 + key.nCurveBytes))));

    const PkeyCtx ctx(lib.EVP_PKEY_CTX_new(ephemeral.get(), nullptr), PkeyCtxFree{&lib});
    size_t nZ = 0;
    if (!ctx || lib.EVP_PKEY_derive_init(ctx.get()) != 1 || lib.EVP_PKEY_derive_set_peer(ctx.get(), peer.get()) != 1
        || lib.EVP_PKEY_derive(ctx.get(), nullptr, &nZ) != 1)
        return false;
    QByteArray z(int(nZ), '\0');
    const bool bDerived = lib.EVP_PKEY_derive(ctx.get(), reinterpret_cast<unsigned char*>(z.data()), &nZ) == 1;
    z.resize(int(nZ));
    QByteArray kek = bDerived ? ConcatKdf(lib, z, key.Alg()) : QByteArray();
    lib.OPENSSL_cleanse(z.data(), size_t(z.size()));
    const bool bOk = !kek.isEmpty() && AesKeyWrap(lib, kek, cek, pEncryptedKey);
    lib.OPENSSL_cleanse(kek.data(), size_t(kek.size()));
    return bOk;
}

bool AesGcm(const CryptoLib& lib, const QByteArray& cek, const QByteArray& iv, const QByteArray& aad,
            const QByteArray& plaintext, QByteArray* pCiphertext, QByteArray* pTag)
{
    const CipherCtx ctx(lib.EVP_CIPHER_CTX_new(), CipherCtxFree{&lib});
    int nOut = 0, nFinal = 0;
    pCiphertext->resize(plaintext.size() + 16);
    pTag->resize(TAG_BYTES);
    auto* pOut = reinterpret_cast<unsigned char*>(pCiphertext->data());
    if (!ctx || lib.EVP_EncryptInit_ex(ctx.get(), lib.EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || lib.EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, iv.size(), nullptr) != 1
        || lib.EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, reinterpret_cast<const unsigned char*>(cek.constData()),
                                  reinterpret_cast<const unsigned char*>(iv.constData())) != 1
        || lib.EVP_EncryptUpdate(ctx.get(), nullptr, &nOut, reinterpret_cast<const unsigned char*>(aad.constData()),
                                 aad.size()) != 1
        || lib.EVP_EncryptUpdate(ctx.get(), pOut, &nOut, reinterpret_cast<const unsigned char*>(plaintext.constData()),
                                 plaintext.size()) != 1
        || lib.EVP_EncryptFinal_ex(ctx.get(), pOut + nOut, &nFinal) != 1
        || lib.EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, TAG_BYTES, pTag->data()) != 1)
        return false;
    pCiphertext->resize(nOut + nFinal);
    return true;
}

} // namespace

QByteArray Base64Url(const QByteArray& data)
{
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

bool FromBase64Url(const QByteArray& text, QByteArray* pData)
{
    if (text.size() % 4 == 1)
        return false;
    QByteArray out;
    out.reserve(text.size() * 3 / 4 + 3);
    quint32 nBuffer = 0;
    int nBits = 0;
    for (const char c : text) {
        const int v = DecodedValue(c);
        if (v < 0)
            return false;
        nBuffer = (nBuffer << 6) | quint32(v);
        nBits += 6;
        if (nBits >= 8) {
            nBits -= 8;
            out.append(char((nBuffer >> nBits) & 0xFF));
        }
    }
    if (nBuffer & ((1u << nBits) - 1)) // stray bits: not a canonical encoding
        return false;
    *pData = out;
    return true;
}

bool ParseJwk(const QByteArray& json, PublicJwk* pKey, QString* pWhy)
{
    if (json.size() > MAX_JWK_BYTES) {
        *pWhy = QStringLiteral("JWK too long");
        return false;
    }
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        *pWhy = QStringLiteral("JWK is not a JSON object");
        return false;
    }
    const QJsonObject o = doc.object();
    static const char* const PRIVATE_MEMBERS[] = {"d", "p", "q", "dp", "dq", "qi", "oth", "k"};
    for (const char* pszKey : PRIVATE_MEMBERS) {
        if (o.contains(QLatin1String(pszKey))) {
            *pWhy = QStringLiteral("JWK holds a private part (\"") + QLatin1String(pszKey) + QStringLiteral("\")");
            return false;
        }
    }
    if (o.contains(QStringLiteral("use")) && Text(o, "use") != QLatin1String("enc")) {
        *pWhy = QStringLiteral("JWK \"use\" is not \"enc\"");
        return false;
    }
    const QJsonValue kid = o.value(QStringLiteral("kid"));
    if (!kid.isUndefined() && !kid.isString()) {
        *pWhy = QStringLiteral("JWK \"kid\" is not a string");
        return false;
    }
    PublicJwk key;
    key.strKid = kid.toString();
    const QString strKty = Text(o, "kty");
    const QString strAlg = Text(o, "alg");
    if (strKty == QLatin1String("RSA")) {
        key.eKind = PublicJwk::Kind::Rsa;
        if (!Member(o, "n", &key.n, pWhy) || !Member(o, "e", &key.e, pWhy))
            return false;
        // Minimal encodings: a leading zero byte would misstate the size.
        if (key.n.at(0) == '\0' || key.e.at(0) == '\0' || key.e.size() > 8 || !(key.e.at(key.e.size() - 1) & 1)
            || (key.e.size() == 1 && key.e.at(0) == 1)) {
            *pWhy = QStringLiteral("RSA key with a malformed modulus or exponent");
            return false;
        }
        key.nBits = BitLength(key.n);
        if (key.nBits < MIN_RSA_BITS || key.nBits > MAX_RSA_BITS) {
            *pWhy = QStringLiteral("RSA key of %1 bits (2048 to 8192 accepted)").arg(key.nBits);
            return false;
        }
    } else if (strKty == QLatin1String("EC")) {
        key.eKind = PublicJwk::Kind::Ec;
        const QString strCrv = Text(o, "crv");
        key.nCurveBytes = strCrv == QLatin1String("P-256") ? 32 : strCrv == QLatin1String("P-384") ? 48 : 0;
        if (!key.nCurveBytes) {
            *pWhy = QStringLiteral("EC curve \"") + strCrv + QStringLiteral("\" not accepted (P-256, P-384)");
            return false;
        }
        if (!Member(o, "x", &key.x, pWhy) || !Member(o, "y", &key.y, pWhy))
            return false;
        if (key.x.size() != key.nCurveBytes || key.y.size() != key.nCurveBytes) {
            *pWhy = QStringLiteral("EC coordinates of the wrong length");
            return false;
        }
        key.nBits = key.nCurveBytes * 8;
    } else {
        *pWhy = QStringLiteral("JWK \"kty\" is neither \"RSA\" nor \"EC\"");
        return false;
    }
    if (strAlg != QLatin1String(key.Alg())) {
        *pWhy = QStringLiteral("JWK \"alg\" must be \"") + QLatin1String(key.Alg()) + QStringLiteral("\" for this key");
        return false;
    }
    *pKey = key;
    return true;
}

QByteArray Seal(const QByteArray& plaintext, const PublicJwk& key, const QString& strContentType, QString* pWhy)
{
    const CryptoLib* pLib = CryptoLib::Get(pWhy);
    if (!pLib)
        return QByteArray();
    const CryptoLib& lib = *pLib;
    QByteArray cek(CEK_BYTES, '\0');
    QByteArray iv(IV_BYTES, '\0');
    if (lib.RAND_bytes(reinterpret_cast<unsigned char*>(cek.data()), CEK_BYTES) != 1
        || lib.RAND_bytes(reinterpret_cast<unsigned char*>(iv.data()), IV_BYTES) != 1) {
        *pWhy = QStringLiteral("no random bytes");
        return QByteArray();
    }
    QJsonObject header;
    header.insert(QStringLiteral("alg"), QString::fromLatin1(key.Alg()));
    header.insert(QStringLiteral("enc"), QStringLiteral("A256GCM"));
    header.insert(QStringLiteral("cty"), strContentType);
    if (!key.strKid.isEmpty())
        header.insert(QStringLiteral("kid"), key.strKid);
    QByteArray encryptedKey;
    bool bWrapped = false;
    if (key.eKind == PublicJwk::Kind::Rsa) {
        bWrapped = RsaOaepWrap(lib, key, cek, &encryptedKey);
    } else {
        QJsonObject epk;
        bWrapped = EcdhWrap(lib, key, cek, &encryptedKey, &epk);
        header.insert(QStringLiteral("epk"), epk);
    }
    QByteArray result;
    if (!bWrapped) {
        *pWhy = QStringLiteral("libcrypto refused the key");
    } else {
        const QByteArray protectedHeader = Base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact));
        QByteArray ciphertext, tag;
        if (!AesGcm(lib, cek, iv, protectedHeader, plaintext, &ciphertext, &tag)) {
            *pWhy = QStringLiteral("content encryption failed");
        } else {
            result.reserve(protectedHeader.size() + (encryptedKey.size() + ciphertext.size()) * 4 / 3 + 64);
            result += protectedHeader;
            result += '.';
            result += Base64Url(encryptedKey);
            result += '.';
            result += Base64Url(iv);
            result += '.';
            result += Base64Url(ciphertext);
            result += '.';
            result += Base64Url(tag);
        }
    }
    lib.OPENSSL_cleanse(cek.data(), size_t(cek.size()));
    return result;
}

QByteArray Sha256(const QByteArray& data)
{
    const CryptoLib* pLib = CryptoLib::Get(nullptr);
    QByteArray digest(32, '\0');
    unsigned int nLen = 0;
    if (!pLib || pLib->EVP_Digest(data.constData(), size_t(data.size()), reinterpret_cast<unsigned char*>(digest.data()),
                                  &nLen, pLib->EVP_sha256(), nullptr) != 1)
        return QByteArray();
    return digest;
}

void Cleanse(QByteArray* pData)
{
    const CryptoLib* pLib = CryptoLib::Get(nullptr);
    if (pLib && !pData->isEmpty())
        pLib->OPENSSL_cleanse(pData->data(), size_t(pData->size()));
    else
        pData->fill('\0');
    pData->clear();
}

} // namespace jose
