#pragma once

// JOSE framing for sealing a text to a page owner's public key: the public
// JWK it accepts, base64url and the compact JWE ("enc" A256GCM, "alg"
// RSA-OAEP-256 or ECDH-ES+A256KW). Every primitive comes from libcrypto.
#include <QByteArray>
#include <QString>

namespace jose {

// base64url without padding; Decode is strict (alphabet, no padding, no
// stray bits) and answers false on anything else.
QByteArray Base64Url(const QByteArray& data);
bool FromBase64Url(const QByteArray& text, QByteArray* pData);

// A public key as accepted: RSA of 2048 to 8192 bits for RSA-OAEP-256, or
// EC P-256 / P-384 for ECDH-ES+A256KW.
struct PublicJwk {
    enum class Kind { Rsa, Ec } eKind = Kind::Rsa;
    QByteArray n, e;     // RSA: big-endian, no leading zero bytes
    int nCurveBytes = 0; // EC: 32 (P-256) or 48 (P-384)
    QByteArray x, y;     // EC: coordinates of nCurveBytes each
    QString strKid;      // empty when the JWK has none
    int nBits = 0;       // RSA modulus or curve size
    const char* Alg() const { return eKind == Kind::Rsa ? "RSA-OAEP-256" : "ECDH-ES+A256KW"; }
    const char* Curve() const { return nCurveBytes == 48 ? "P-384" : "P-256"; }
};

// Parses and checks a JWK text. False, with the reason in *pWhy, for
// anything but a well-formed public key of the kinds above (a private part,
// another curve or size, another "alg", "use" other than "enc").
bool ParseJwk(const QByteArray& json, PublicJwk* pKey, QString* pWhy);

// The compact JWE of plaintext for key, its protected header carrying
// strContentType as "cty". Empty, with the reason in *pWhy, on failure
// (libcrypto missing or refusing the key).
QByteArray Seal(const QByteArray& plaintext, const PublicJwk& key, const QString& strContentType, QString* pWhy);

// SHA-256 of data by libcrypto; empty when libcrypto is missing.
QByteArray Sha256(const QByteArray& data);

// Overwrites a buffer that held secret or personal data.
void Cleanse(QByteArray* pData);

} // namespace jose
