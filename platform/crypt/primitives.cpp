#include "platform/crypt/primitives.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <climits>
#include <mutex>

namespace platform::crypt {

namespace {

struct Library {
    OSSL_LIB_CTX* context = nullptr;
    EVP_MD* md5 = nullptr;
    EVP_CIPHER* rc4 = nullptr;
    std::string error;
};

// Loaded once and kept for the life of the process.
const Library& GetLibrary() {
    static Library* library = [] {
        auto* lib = new Library;
        lib->context = OSSL_LIB_CTX_new();
        if (!lib->context) {
            lib->error = "cannot create an OpenSSL library context";
            return lib;
        }
        if (!OSSL_PROVIDER_load(lib->context, "default")) {
            lib->error = "cannot load the OpenSSL \"default\" provider";
            return lib;
        }
        if (!OSSL_PROVIDER_load(lib->context, "legacy")) {
            lib->error = "cannot load the OpenSSL \"legacy\" provider, which RC4 needs";
            return lib;
        }
        lib->md5 = EVP_MD_fetch(lib->context, "MD5", nullptr);
        lib->rc4 = EVP_CIPHER_fetch(lib->context, "RC4", nullptr);
        if (!lib->md5 || !lib->rc4)
            lib->error = "OpenSSL offers no MD5 or no RC4";
        return lib;
    }();
    return *library;
}

} // namespace

const std::string& LoadError() {
    return GetLibrary().error;
}

Md5::Md5() {
    const Library& library = GetLibrary();
    if (!library.md5)
        return;
    m_ctx = EVP_MD_CTX_new();
    if (m_ctx && !EVP_DigestInit_ex2(m_ctx, library.md5, nullptr)) {
        EVP_MD_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
}

Md5::~Md5() {
    EVP_MD_CTX_free(m_ctx);
}

bool Md5::Update(const BYTE* data, size_t length) {
    return m_ctx && (length == 0 || EVP_DigestUpdate(m_ctx, data, length) == 1);
}

bool Md5::Final(std::array<BYTE, kSize>& digest) {
    unsigned int size = 0;
    return m_ctx && EVP_DigestFinal_ex(m_ctx, digest.data(), &size) == 1 && size == kSize;
}

Rc4::Rc4(std::vector<BYTE> key) : m_key(std::move(key)) {
    if (!GetLibrary().rc4 || m_key.empty())
        return;
    m_ctx = EVP_CIPHER_CTX_new();
    if (m_ctx && !Reset()) {
        EVP_CIPHER_CTX_free(m_ctx);
        m_ctx = nullptr;
    }
}

Rc4::~Rc4() {
    EVP_CIPHER_CTX_free(m_ctx);
}

bool Rc4::Reset() {
    if (!m_ctx)
        return false;
    // RC4 keys vary in length: set the length first, then the key.
    return EVP_CipherInit_ex2(m_ctx, GetLibrary().rc4, nullptr, nullptr, 1, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_key_length(m_ctx, static_cast<int>(m_key.size())) == 1 &&
           EVP_CipherInit_ex2(m_ctx, nullptr, m_key.data(), nullptr, 1, nullptr) == 1;
}

bool Rc4::Apply(BYTE* data, size_t length) {
    if (!m_ctx)
        return false;
    while (length > 0) {
        const int chunk = length > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
        int produced = 0;
        if (EVP_CipherUpdate(m_ctx, data, &produced, data, chunk) != 1 || produced != chunk)
            return false;
        data += chunk;
        length -= static_cast<size_t>(chunk);
    }
    return true;
}

} // namespace platform::crypt
