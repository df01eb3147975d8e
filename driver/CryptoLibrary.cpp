#include "driver/CryptoLibrary.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

namespace {

struct Library {
    OSSL_LIB_CTX* LibCtx = nullptr;
    OSSL_PROVIDER* DefaultProvider = nullptr;
    OSSL_PROVIDER* LegacyProvider = nullptr;
    EVP_CIPHER* Aes256Ecb = nullptr;
    EVP_CIPHER* Aes256Cbc = nullptr;
    EVP_KDF* Pbkdf2 = nullptr;
};

std::mutex g_lock;
std::atomic<bool> g_ready{false};
bool g_failed = false; // remembered failure, under g_lock
Library g_lib;

void Release(Library& lib) {
    EVP_KDF_free(lib.Pbkdf2);
    EVP_CIPHER_free(lib.Aes256Cbc);
    EVP_CIPHER_free(lib.Aes256Ecb);
    if (lib.LegacyProvider != nullptr) {
        OSSL_PROVIDER_unload(lib.LegacyProvider);
    }
    if (lib.DefaultProvider != nullptr) {
        OSSL_PROVIDER_unload(lib.DefaultProvider);
    }
    OSSL_LIB_CTX_free(lib.LibCtx);
    lib = Library{};
}

void ReportError(const char* what) {
    std::fprintf(stderr, "CryptoLibraryInit: %s\n", what);
    // The library's own error queue says why (e.g. which provider module could not be loaded).
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char text[256];
        ERR_error_string_n(e, text, sizeof(text));
        std::fprintf(stderr, "CryptoLibraryInit:   %s\n", text);
    }
}

// Published known answers: PBKDF2 over "password" with the salt 12 34 56 78 and 5 iterations, the first four
// bytes (published self-test vectors; for HMAC-SHA-1 also RFC 3962 Appendix B), and RFC 6070 test 2.
struct KnownAnswer {
    uint32_t PrfId;
    const char* Password;
    size_t PasswordLength;
    const char* Salt;
    size_t SaltLength;
    uint32_t Iterations;
    const char* Expected;
    size_t ExpectedLength;
};

const KnownAnswer kKnownAnswers[] = {
    {PRF_RIPEMD160, "password", 8, "\x12\x34\x56\x78", 4, 5, "\x7a\x3d\x7c\x03", 4},
    {PRF_SHA1, "password", 8, "\x12\x34\x56\x78", 4, 5, "\x5c\x75\xce\xf0", 4},
    {PRF_SHA1, "password", 8, "salt", 4, 2,
     "\xea\x6c\x01\x4d\xc7\x2d\x6f\x8c\xcd\x1e\xd9\x2a\xce\x1d\x41\xf0\xd8\xde\x89\x57", 20},
    {PRF_WHIRLPOOL, "password", 8, "\x12\x34\x56\x78", 4, 5, "\x50\x7c\x36\x6f", 4},
};

} // namespace

uint32_t PrfIterations(uint32_t prfId) {
    switch (prfId) {
    case PRF_RIPEMD160:
        return 2000;
    case PRF_SHA1:
        return 2000;
    case PRF_WHIRLPOOL:
        return 1000;
    default:
        return 0;
    }
}

const char* PrfDigestName(uint32_t prfId) {
    switch (prfId) {
    case PRF_RIPEMD160:
        return "RIPEMD160";
    case PRF_SHA1:
        return "SHA1";
    case PRF_WHIRLPOOL:
        return "WHIRLPOOL";
    default:
        return nullptr;
    }
}

namespace {

bool DeriveWith(EVP_KDF* kdf, uint32_t prfId, const uint8_t* password, size_t passwordLength, const uint8_t* salt,
                size_t saltLength, uint32_t iterations, uint8_t* out, size_t outLength) {
    const char* digest = PrfDigestName(prfId);
    if (kdf == nullptr || digest == nullptr || iterations == 0 || out == nullptr || outLength == 0 ||
        (password == nullptr && passwordLength != 0) || (salt == nullptr && saltLength != 0)) {
        return false;
    }
    EVP_KDF_CTX* kctx = EVP_KDF_CTX_new(kdf);
    if (kctx == nullptr) {
        return false;
    }
    static const uint8_t kEmpty[1] = {0};
    uint64_t iter = iterations;
    int pkcs5 = 1; // plain RFC 2898: no SP 800-132 lower bounds on salt, key length or iterations
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest), 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_PASSWORD,
                                          const_cast<uint8_t*>(passwordLength ? password : kEmpty), passwordLength),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, const_cast<uint8_t*>(saltLength ? salt : kEmpty),
                                          saltLength),
        OSSL_PARAM_construct_uint64(OSSL_KDF_PARAM_ITER, &iter),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_PKCS5, &pkcs5),
        OSSL_PARAM_construct_end(),
    };
    const bool ok = EVP_KDF_derive(kctx, out, outLength, params) == 1;
    EVP_KDF_CTX_free(kctx);
    return ok;
}

} // namespace

bool CryptoDeriveKeyIn(OSSL_LIB_CTX* libctx, uint32_t prfId, const uint8_t* password, size_t passwordLength,
                       const uint8_t* salt, size_t saltLength, uint32_t iterations, uint8_t* out, size_t outLength) {
    EVP_KDF* kdf = EVP_KDF_fetch(libctx, OSSL_KDF_NAME_PBKDF2, nullptr);
    const bool ok = DeriveWith(kdf, prfId, password, passwordLength, salt, saltLength, iterations, out, outLength);
    EVP_KDF_free(kdf);
    return ok;
}

bool CryptoDeriveKey(uint32_t prfId, const uint8_t* password, size_t passwordLength, const uint8_t* salt,
                     size_t saltLength, uint32_t iterations, uint8_t* out, size_t outLength) {
    if (!CryptoLibraryInit()) {
        return false;
    }
    return DeriveWith(g_lib.Pbkdf2, prfId, password, passwordLength, salt, saltLength, iterations, out, outLength);
}

bool CryptoLibrarySelfTest(OSSL_LIB_CTX* libctx) {
    bool ok = true;
    for (const KnownAnswer& ka : kKnownAnswers) {
        uint8_t out[64];
        const bool derived = CryptoDeriveKeyIn(libctx, ka.PrfId, reinterpret_cast<const uint8_t*>(ka.Password),
                                               ka.PasswordLength, reinterpret_cast<const uint8_t*>(ka.Salt),
                                               ka.SaltLength, ka.Iterations, out, ka.ExpectedLength);
        if (!derived || std::memcmp(out, ka.Expected, ka.ExpectedLength) != 0) {
            char text[200];
            std::snprintf(text, sizeof(text),
                          "self-test of PBKDF2-HMAC-%s FAILED (%s); volumes cannot be opened or created. "
                          "Is the OpenSSL \"%s\" provider installed?",
                          PrfDigestName(ka.PrfId), derived ? "wrong answer" : "derivation unavailable",
                          ka.PrfId == PRF_WHIRLPOOL ? "legacy" : "default");
            ReportError(text);
            ok = false;
        }
    }
    return ok;
}

bool CryptoLibraryInit() {
    if (g_ready.load(std::memory_order_acquire)) {
        return true;
    }
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_ready.load(std::memory_order_relaxed)) {
        return true;
    }
    if (g_failed) {
        return false;
    }

    Library lib;
    const char* failure = nullptr;
    lib.LibCtx = OSSL_LIB_CTX_new();
    if (lib.LibCtx == nullptr) {
        failure = "cannot create the OpenSSL library context";
    } else if ((lib.DefaultProvider = OSSL_PROVIDER_load(lib.LibCtx, "default")) == nullptr) {
        failure = "cannot load the OpenSSL \"default\" provider";
    } else if ((lib.LegacyProvider = OSSL_PROVIDER_load(lib.LibCtx, "legacy")) == nullptr) {
        failure = "cannot load the OpenSSL \"legacy\" provider (needed for HMAC-Whirlpool)";
    } else if ((lib.Aes256Ecb = EVP_CIPHER_fetch(lib.LibCtx, "AES-256-ECB", nullptr)) == nullptr ||
               (lib.Aes256Cbc = EVP_CIPHER_fetch(lib.LibCtx, "AES-256-CBC", nullptr)) == nullptr) {
        failure = "cannot fetch AES-256";
    } else if ((lib.Pbkdf2 = EVP_KDF_fetch(lib.LibCtx, OSSL_KDF_NAME_PBKDF2, nullptr)) == nullptr) {
        failure = "cannot fetch PBKDF2";
    } else if (!CryptoLibrarySelfTest(lib.LibCtx)) {
        failure = "key derivation self-test failed";
    }

    if (failure != nullptr) {
        ReportError(failure);
        Release(lib);
        g_failed = true;
        return false;
    }
    g_lib = lib;
    g_ready.store(true, std::memory_order_release);
    return true;
}

void CryptoLibraryShutdown() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_ready.store(false, std::memory_order_release);
    g_failed = false;
    Release(g_lib);
}

void CryptoThreadEnd() {
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (g_lib.LibCtx)
            OPENSSL_thread_stop_ex(g_lib.LibCtx);
    }
    OPENSSL_thread_stop();
}

OSSL_LIB_CTX* CryptoLibraryContext() {
    return g_ready.load(std::memory_order_acquire) ? g_lib.LibCtx : nullptr;
}

const EVP_CIPHER* CryptoAes256Ecb() {
    return g_ready.load(std::memory_order_acquire) ? g_lib.Aes256Ecb : nullptr;
}

const EVP_CIPHER* CryptoAes256Cbc() {
    return g_ready.load(std::memory_order_acquire) ? g_lib.Aes256Cbc : nullptr;
}

bool CryptoRandomBytes(uint8_t* buffer, size_t length) {
    if (length == 0) {
        return true;
    }
    if (buffer == nullptr || !CryptoLibraryInit()) {
        return false;
    }
    return RAND_priv_bytes_ex(g_lib.LibCtx, buffer, length, 0) == 1;
}

void CryptoBurn(void* data, size_t length) {
    if (data == nullptr || length == 0) {
        return;
    }
    volatile uint8_t* p = static_cast<volatile uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) {
        p[i] = 0xFF;
    }
    OPENSSL_cleanse(data, length);
}
