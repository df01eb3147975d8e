// MD5 and RC4 from OpenSSL, in a library context of our own with the "default" and "legacy" providers loaded
// (RC4 lives only in "legacy"). Private to the crypt folder.
#pragma once

#include "platform/base/types.h"

#include <array>
#include <string>
#include <vector>

struct evp_md_ctx_st;
struct evp_cipher_ctx_st;

namespace platform::crypt {

// Empty when both algorithms are available, else why not.
const std::string& LoadError();

class Md5 {
public:
    static constexpr size_t kSize = 16;
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;

    bool Ok() const { return m_ctx != nullptr; }
    bool Update(const BYTE* data, size_t length);
    bool Final(std::array<BYTE, kSize>& digest);

private:
    evp_md_ctx_st* m_ctx = nullptr;
};

// An RC4 key stream; Apply encrypts or decrypts in place, Reset starts the stream again from the key.
class Rc4 {
public:
    explicit Rc4(std::vector<BYTE> key);
    ~Rc4();
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;

    bool Ok() const { return m_ctx != nullptr; }
    bool Apply(BYTE* data, size_t length);
    bool Reset();

private:
    std::vector<BYTE> m_key;
    evp_cipher_ctx_st* m_ctx = nullptr;
};

} // namespace platform::crypt
