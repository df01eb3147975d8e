#include "platform/crypt/wincrypt.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/crypt/primitives.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

Bytes KeyStream(const Bytes& key, size_t length) {
    platform::crypt::Rc4 rc4(key);
    EXPECT_TRUE(rc4.Ok());
    Bytes stream(length, 0);
    EXPECT_TRUE(rc4.Apply(stream.data(), stream.size()));
    return stream;
}

// RFC 6229 key streams at offsets 0, 16, 240 and 256.
TEST(Rc4, MatchesPublishedKeyStreams) {
    const struct {
        const char* key;
        const char* at0;
        const char* at16;
        const char* at240;
        const char* at256;
    } cases[] = {
        {"0102030405", "b2396305f03dc027ccc3524a0a1118a8", "6982944f18fc82d589c403a47a0d0919",
         "28cb1132c96ce286421dcaadb8b69eae", "1cfcf62b03eddb641d77dfcf7f8d8c93"},
        {"0102030405060708090a0b0c0d0e0f10", "9ac7cc9a609d1ef7b2932899cde41b97", "5248c4959014126a6e8a84f11d1a9e1c",
         "065902e4b620f6cc36c8589f66432f2b", "d39d566bc6bce3010768151549f3873f"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const Bytes stream = KeyStream(FromHex(c.key), 272);
        EXPECT_EQ(FromHex(c.at0), Bytes(stream.begin(), stream.begin() + 16));
        EXPECT_EQ(FromHex(c.at16), Bytes(stream.begin() + 16, stream.begin() + 32));
        EXPECT_EQ(FromHex(c.at240), Bytes(stream.begin() + 240, stream.begin() + 256));
        EXPECT_EQ(FromHex(c.at256), Bytes(stream.begin() + 256, stream.begin() + 272));
    }
}

// A verify context with one hash; everything released at the end of the scope.
class CryptTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CryptAcquireContextW(&m_provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
            << std::hex << GetLastError();
    }
    void TearDown() override {
        for (HCRYPTKEY key : m_keys)
            EXPECT_TRUE(CryptDestroyKey(key));
        for (HCRYPTHASH hash : m_hashes)
            EXPECT_TRUE(CryptDestroyHash(hash));
        EXPECT_TRUE(CryptReleaseContext(m_provider, 0));
    }

    HCRYPTHASH NewHash(const std::string& data) {
        HCRYPTHASH hash = 0;
        EXPECT_TRUE(CryptCreateHash(m_provider, CALG_MD5, 0, 0, &hash));
        EXPECT_TRUE(
            CryptHashData(hash, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0));
        m_hashes.push_back(hash);
        return hash;
    }
    Bytes Digest(HCRYPTHASH hash) {
        Bytes value(16);
        DWORD size = 16;
        EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, value.data(), &size, 0));
        EXPECT_EQ(16u, size);
        return value;
    }
    HCRYPTKEY NewKey(const std::string& passPhrase, DWORD flags) {
        HCRYPTKEY key = 0;
        EXPECT_TRUE(CryptDeriveKey(m_provider, CALG_RC4, NewHash(passPhrase), flags, &key))
            << std::hex << GetLastError();
        m_keys.push_back(key);
        return key;
    }
    Bytes Encrypt(HCRYPTKEY key, Bytes data, BOOL final = TRUE) {
        DWORD length = static_cast<DWORD>(data.size());
        EXPECT_TRUE(CryptEncrypt(key, 0, final, 0, data.data(), &length, length));
        return data;
    }

    HCRYPTPROV m_provider = 0;
    std::vector<HCRYPTHASH> m_hashes;
    std::vector<HCRYPTKEY> m_keys;
};

// The RFC 1321 test suite.
TEST_F(CryptTest, Md5MatchesTheTestSuite) {
    const struct {
        const char* text;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FromHex(c.digest), Digest(NewHash(c.text)));
    }

    HCRYPTHASH hash = NewHash("ab");
    EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>("c"), 1, 0));
    DWORD size = 0;
    EXPECT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &size, 0));
    EXPECT_EQ(16u, size);
    BYTE small[4];
    size = sizeof small;
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, small, &size, 0));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_EQ(FromHex("900150983cd24fb0d6963f7d28e17f72"), Digest(hash));
    // A finished hash takes no more data.
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("d"), 1, 0));
    EXPECT_EQ(NTE_BAD_HASH_STATE, GetLastError());
}

// The base provider's key: the first 5 bytes of the hash, then 11 zero bytes of salt, as one 16-byte RC4 key.
TEST_F(CryptTest, DerivedKeysFollowTheBaseProviderRule) {
    const Bytes zeros(32, 0);
    const Bytes md5 = FromHex("900150983cd24fb0d6963f7d28e17f72"); // MD5("abc")
    auto withSalt = [&](size_t keyBytes) {
        Bytes key(md5.begin(), md5.begin() + static_cast<ptrdiff_t>(keyBytes));
        key.resize(16, 0);
        return key;
    };
    const struct {
        DWORD flags;
        Bytes key;
    } cases[] = {
        {0, withSalt(5)},
        {CRYPT_EXPORTABLE, withSalt(5)},
        {40u << 16, withSalt(5)},
        {56u << 16, withSalt(7)},
        {CRYPT_NO_SALT, Bytes(md5.begin(), md5.begin() + 5)},
        {(48u << 16) | CRYPT_NO_SALT, Bytes(md5.begin(), md5.begin() + 6)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        EXPECT_EQ(KeyStream(c.key, zeros.size()), Encrypt(NewKey("abc", c.flags), zeros));
    }

    HCRYPTKEY key = 0;
    for (DWORD flags : {32u << 16, 64u << 16, 44u << 16, 0x4u}) {
        EXPECT_FALSE(CryptDeriveKey(m_provider, CALG_RC4, NewHash("abc"), flags, &key));
        EXPECT_EQ(NTE_BAD_FLAGS, GetLastError());
    }
    EXPECT_FALSE(CryptDeriveKey(m_provider, 0x6602 /* RC2 */, NewHash("abc"), 0, &key));
    EXPECT_EQ(NTE_BAD_ALGID, GetLastError());
    // Deriving finishes the hash.
    HCRYPTHASH hash = NewHash("abc");
    ASSERT_TRUE(CryptDeriveKey(m_provider, CALG_RC4, hash, 0, &key));
    m_keys.push_back(key);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>("d"), 1, 0));
    EXPECT_EQ(NTE_BAD_HASH_STATE, GetLastError());
}

TEST_F(CryptTest, FinalStartsTheStreamAgain) {
    const Bytes text = {'p', 's', 'e', 'c', 'r', 'e', 't'};
    const HCRYPTKEY key = NewKey("pass phrase", 0);
    const Bytes once = Encrypt(key, text);
    EXPECT_EQ(once, Encrypt(key, text));

    // Without Final the stream goes on: two halves give the same bytes as one whole.
    const Bytes first = Encrypt(key, Bytes(text.begin(), text.begin() + 3), FALSE);
    const Bytes second = Encrypt(key, Bytes(text.begin() + 3, text.end()), TRUE);
    Bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_EQ(once, joined);
    Encrypt(key, Bytes(text.begin(), text.begin() + 3), FALSE);
    EXPECT_NE(once, Encrypt(key, text, TRUE));
    EXPECT_EQ(once, Encrypt(key, text, TRUE));

    Bytes data = once;
    DWORD length = static_cast<DWORD>(data.size());
    ASSERT_TRUE(CryptDecrypt(NewKey("pass phrase", 0), 0, TRUE, 0, data.data(), &length));
    EXPECT_EQ(text, data);

    // Room and arguments are checked.
    length = static_cast<DWORD>(data.size());
    EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, data.data(), &length, length - 1));
    EXPECT_EQ(ERROR_MORE_DATA, GetLastError());
    EXPECT_TRUE(CryptEncrypt(key, 0, TRUE, 0, nullptr, &length, 0));
    EXPECT_EQ(text.size(), length);
    EXPECT_FALSE(CryptEncrypt(0x1234, 0, TRUE, 0, data.data(), &length, length));
    EXPECT_EQ(NTE_BAD_KEY, GetLastError());
}

TEST(CryptContainers, DefaultContainerMustBeCreatedFirst) {
    platform::machine::ScopedTestMachine machine;
    HCRYPTPROV provider = 0;
    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(NTE_BAD_KEYSET, GetLastError());
    ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(NTE_EXISTS, GetLastError());
    ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_TRUE(CryptReleaseContext(provider, 0));
    EXPECT_FALSE(CryptReleaseContext(provider, 0));
    EXPECT_EQ(NTE_BAD_UID, GetLastError());

    ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(NTE_BAD_KEYSET, GetLastError());

    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, u"Some Other Provider", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(NTE_KEYSET_NOT_DEF, GetLastError());
    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, nullptr, 24, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(NTE_PROV_TYPE_NOT_DEF, GetLastError());
    EXPECT_FALSE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, 0x1000));
    EXPECT_EQ(NTE_BAD_FLAGS, GetLastError());
}

} // namespace
