#pragma once

// "GetEvidence": the open pad's ink with its dynamics, the device and the
// document's hash, as a JSON record sealed to the page owner's public key.
#include <QString>

class SignObjInterface;

namespace evidence {

// "cty" of the sealed record: names the record and its version.
extern const char* const CONTENT_TYPE;

// The compact JWE, or a code: "-1" libcrypto missing, "-8" no ink, "-2" a
// bad hash, nonce or key. strOrigin: the requesting connection's Origin
// ("" for native clients).
QString Answer(SignObjInterface* pPad, const QString& strDoc, const QString& strNonce, const QString& strKey,
               const QString& strOrigin);

// The record itself, unsealed (tests and the benchmark); empty without ink.
QByteArray Record(SignObjInterface* pPad, const QString& strDoc, const QString& strNonce, const QString& strOrigin);

bool IsDocumentHash(const QString& strDoc);
bool IsNonce(const QString& strNonce);

} // namespace evidence
