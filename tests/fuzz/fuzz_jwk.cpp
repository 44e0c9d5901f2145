// The public JWK a page sends with "GetEvidence": any text is either
// refused with a reason or gives a key within the accepted kinds and sizes;
// base64url decoding takes back what encoding gave.
#include "jose.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), int(size));
    jose::PublicJwk key;
    QString strWhy;
    if (jose::ParseJwk(text, &key, &strWhy)) {
        if (!strWhy.isEmpty())
            abort();
        if (key.eKind == jose::PublicJwk::Kind::Rsa) {
            if (key.nBits < 2048 || key.nBits > 8192 || key.n.isEmpty() || key.n.at(0) == '\0' || key.e.isEmpty()
                || qstrcmp(key.Alg(), "RSA-OAEP-256") != 0)
                abort();
        } else if ((key.nCurveBytes != 32 && key.nCurveBytes != 48) || key.x.size() != key.nCurveBytes
                   || key.y.size() != key.nCurveBytes || qstrcmp(key.Alg(), "ECDH-ES+A256KW") != 0) {
            abort();
        }
    } else if (strWhy.isEmpty()) {
        abort(); // every refusal says why
    }
    QByteArray back;
    if (!jose::FromBase64Url(jose::Base64Url(text), &back) || back != text)
        abort();
    QByteArray decoded; // any text: decoded only if canonical, and then encodes back to itself
    if (jose::FromBase64Url(text, &decoded) && jose::Base64Url(decoded) != text)
        abort();
    return 0;
}
