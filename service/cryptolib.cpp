// libcrypto bound by symbol name (see cryptolib.h).
#include "cryptolib.h"

#include <QByteArray>

#include <dlfcn.h>

#include <cstddef>
#include <mutex>

namespace {

#define CRYPTO_FN(name) {#name, offsetof(CryptoLib, name)}
struct Binding {
    const char* pszName;
    size_t nOffset;
};
const Binding BINDINGS[] = {
    CRYPTO_FN(EVP_Digest), CRYPTO_FN(EVP_sha256),
    CRYPTO_FN(EVP_CIPHER_CTX_new), CRYPTO_FN(EVP_CIPHER_CTX_free), CRYPTO_FN(EVP_CIPHER_CTX_ctrl),
    CRYPTO_FN(EVP_CIPHER_CTX_set_flags), CRYPTO_FN(EVP_EncryptInit_ex), CRYPTO_FN(EVP_EncryptUpdate),
    CRYPTO_FN(EVP_EncryptFinal_ex), CRYPTO_FN(EVP_aes_256_gcm), CRYPTO_FN(EVP_aes_256_wrap),
    CRYPTO_FN(RAND_bytes), CRYPTO_FN(EVP_PKEY_new), CRYPTO_FN(EVP_PKEY_free), CRYPTO_FN(EVP_PKEY_assign),
    CRYPTO_FN(RSA_new), CRYPTO_FN(RSA_free), CRYPTO_FN(RSA_set0_key), CRYPTO_FN(BN_bin2bn), CRYPTO_FN(BN_free),
    CRYPTO_FN(EC_KEY_new_by_curve_name), CRYPTO_FN(EC_KEY_set_public_key_affine_coordinates), CRYPTO_FN(EC_KEY_free),
    CRYPTO_FN(EVP_PKEY_CTX_new), CRYPTO_FN(EVP_PKEY_CTX_free), CRYPTO_FN(EVP_PKEY_CTX_ctrl_str),
    CRYPTO_FN(EVP_PKEY_encrypt_init), CRYPTO_FN(EVP_PKEY_encrypt), CRYPTO_FN(EVP_PKEY_keygen_init),
    CRYPTO_FN(EVP_PKEY_keygen), CRYPTO_FN(EVP_PKEY_derive_init), CRYPTO_FN(EVP_PKEY_derive_set_peer),
    CRYPTO_FN(EVP_PKEY_derive), CRYPTO_FN(i2d_PUBKEY), CRYPTO_FN(OPENSSL_cleanse),
};
#undef CRYPTO_FN
static_assert(sizeof(BINDINGS) / sizeof(BINDINGS[0]) * sizeof(void*) == sizeof(CryptoLib),
              "every member of CryptoLib has its binding");

// OpenSSL 3 first: where both are installed, the maintained one.
const char* const LIBRARY_NAMES[] = {"libcrypto.so.3", "libcrypto.so.1.1"};

std::once_flag g_once;
CryptoLib g_lib;
const CryptoLib* g_pLib = nullptr;
QString g_strWhy;
QString g_strName;

void Load()
{
    void* pHandle = nullptr;
    // VT_LIBCRYPTO, a file or a name, is then the only one tried: how the
    // tests run the service on OpenSSL 1.1.1 where 3 is installed too.
    const QByteArray chosen = qgetenv("VT_LIBCRYPTO");
    if (!chosen.isEmpty()) {
        pHandle = dlopen(chosen.constData(), RTLD_NOW | RTLD_LOCAL);
        g_strName = QString::fromLocal8Bit(chosen);
        if (!pHandle) {
            g_strWhy = g_strName + QStringLiteral(" (VT_LIBCRYPTO) could not be loaded");
            g_strName.clear();
            return;
        }
    }
    for (const char* pszName : LIBRARY_NAMES) {
        if (pHandle)
            break;
        pHandle = dlopen(pszName, RTLD_NOW | RTLD_LOCAL);
        if (pHandle)
            g_strName = QString::fromLatin1(pszName);
    }
    if (!pHandle) {
        g_strWhy = QStringLiteral("neither libcrypto.so.3 nor libcrypto.so.1.1 could be loaded");
        return;
    }
    for (const Binding& binding : BINDINGS) {
        void* pfn = dlsym(pHandle, binding.pszName);
        if (!pfn) {
            g_strWhy = g_strName + QStringLiteral(" lacks ") + QString::fromLatin1(binding.pszName);
            dlclose(pHandle);
            g_strName.clear();
            return;
        }
        *reinterpret_cast<void**>(reinterpret_cast<char*>(&g_lib) + binding.nOffset) = pfn;
    }
    g_pLib = &g_lib; // the handle stays open for the program's life
}

} // namespace

const CryptoLib* CryptoLib::Get(QString* pWhy)
{
    std::call_once(g_once, Load);
    if (!g_pLib && pWhy)
        *pWhy = g_strWhy;
    return g_pLib;
}

QString CryptoLib::LoadedName()
{
    std::call_once(g_once, Load);
    return g_strName;
}
