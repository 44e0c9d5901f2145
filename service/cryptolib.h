#pragma once

// libcrypto, loaded at run time by name: the one package installs on
// desktops that ship OpenSSL 1.1.1 and on those that ship OpenSSL 3, so it
// cannot be linked to either. Only functions that exist with the same
// signature in both are bound. The headers give the types only.
#ifndef OPENSSL_SUPPRESS_DEPRECATED
#define OPENSSL_SUPPRESS_DEPRECATED // the RSA and EC_KEY setters are still there in 3.x
#endif
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <QString>

struct CryptoLib {
    decltype(&::EVP_Digest) EVP_Digest;
    decltype(&::EVP_sha256) EVP_sha256;
    decltype(&::EVP_CIPHER_CTX_new) EVP_CIPHER_CTX_new;
    decltype(&::EVP_CIPHER_CTX_free) EVP_CIPHER_CTX_free;
    decltype(&::EVP_CIPHER_CTX_ctrl) EVP_CIPHER_CTX_ctrl;
    decltype(&::EVP_CIPHER_CTX_set_flags) EVP_CIPHER_CTX_set_flags;
    decltype(&::EVP_EncryptInit_ex) EVP_EncryptInit_ex;
    decltype(&::EVP_EncryptUpdate) EVP_EncryptUpdate;
    decltype(&::EVP_EncryptFinal_ex) EVP_EncryptFinal_ex;
    decltype(&::EVP_aes_256_gcm) EVP_aes_256_gcm;
    decltype(&::EVP_aes_256_wrap) EVP_aes_256_wrap;
    decltype(&::RAND_bytes) RAND_bytes;
    decltype(&::EVP_PKEY_new) EVP_PKEY_new;
    decltype(&::EVP_PKEY_free) EVP_PKEY_free;
    decltype(&::EVP_PKEY_assign) EVP_PKEY_assign;
    decltype(&::RSA_new) RSA_new;
    decltype(&::RSA_free) RSA_free;
    decltype(&::RSA_set0_key) RSA_set0_key;
    decltype(&::BN_bin2bn) BN_bin2bn;
    decltype(&::BN_free) BN_free;
    decltype(&::EC_KEY_new_by_curve_name) EC_KEY_new_by_curve_name;
    decltype(&::EC_KEY_set_public_key_affine_coordinates) EC_KEY_set_public_key_affine_coordinates;
    decltype(&::EC_KEY_free) EC_KEY_free;
    decltype(&::EVP_PKEY_CTX_new) EVP_PKEY_CTX_new;
    decltype(&::EVP_PKEY_CTX_free) EVP_PKEY_CTX_free;
    decltype(&::EVP_PKEY_CTX_ctrl_str) EVP_PKEY_CTX_ctrl_str;
    decltype(&::EVP_PKEY_encrypt_init) EVP_PKEY_encrypt_init;
    decltype(&::EVP_PKEY_encrypt) EVP_PKEY_encrypt;
    decltype(&::EVP_PKEY_keygen_init) EVP_PKEY_keygen_init;
    decltype(&::EVP_PKEY_keygen) EVP_PKEY_keygen;
    decltype(&::EVP_PKEY_derive_init) EVP_PKEY_derive_init;
    decltype(&::EVP_PKEY_derive_set_peer) EVP_PKEY_derive_set_peer;
    decltype(&::EVP_PKEY_derive) EVP_PKEY_derive;
    decltype(&::i2d_PUBKEY) i2d_PUBKEY;
    decltype(&::OPENSSL_cleanse) OPENSSL_cleanse;

    // The library, loaded and bound once (the one VT_LIBCRYPTO names, else
    // "libcrypto.so.3", else "libcrypto.so.1.1"); null when it does not
    // load or a function is missing, with the reason in *pWhy.
    static const CryptoLib* Get(QString* pWhy);
    // Which file was loaded, for the log ("" when none).
    static QString LoadedName();
};
