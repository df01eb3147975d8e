#include "platform/crypt/wincrypt.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/crypt/primitives.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>

using platform::crypt::Md5;
using platform::crypt::Rc4;

namespace {

// The base provider's RC4 keys: 40 bits by default, at most 56; salt fills the key up to 16 bytes.
constexpr DWORD kDefaultKeyBits = 40;
constexpr DWORD kMaxKeyBits = 56;
constexpr size_t kSaltedKeyBytes = 16;

struct Provider {
    std::u16string container; // empty for a verify context
};

struct Hash {
    Md5 md5;
    std::optional<std::array<BYTE, Md5::kSize>> value; // set once the hash is finished

    // Finishes the hash (once) and returns its value.
    const std::array<BYTE, Md5::kSize>* Finish() {
        if (!value) {
            std::array<BYTE, Md5::kSize> digest{};
            if (!md5.Final(digest))
                return nullptr;
            value = digest;
        }
        return &*value;
    }
};

struct Key {
    explicit Key(std::vector<BYTE> material) : rc4(std::move(material)) {}
    Rc4 rc4;
};

using Object = std::variant<std::shared_ptr<Provider>, std::shared_ptr<Hash>, std::shared_ptr<Key>>;

struct Table {
    std::mutex mutex;
    std::map<ULONG_PTR, Object> objects;
    ULONG_PTR next = 0x10000;

    ULONG_PTR Insert(Object object) {
        std::lock_guard lock(mutex);
        const ULONG_PTR handle = next;
        next += 8;
        objects.emplace(handle, std::move(object));
        return handle;
    }
    template <class T> std::shared_ptr<T> Find(ULONG_PTR handle) {
        std::lock_guard lock(mutex);
        auto found = objects.find(handle);
        if (found == objects.end())
            return nullptr;
        auto* object = std::get_if<std::shared_ptr<T>>(&found->second);
        return object ? *object : nullptr;
    }
    template <class T> bool Remove(ULONG_PTR handle) {
        std::lock_guard lock(mutex);
        auto found = objects.find(handle);
        if (found == objects.end() || !std::holds_alternative<std::shared_ptr<T>>(found->second))
            return false;
        objects.erase(found);
        return true;
    }
};

Table& Objects() {
    static auto* table = new Table; // never destroyed: handles may be released while the process exits
    return *table;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The algorithms must be there; say once, loudly, why they are not.
bool LibraryReady() {
    const std::string& error = platform::crypt::LoadError();
    if (error.empty())
        return true;
    static std::once_flag once;
    std::call_once(once, [&] { std::fprintf(stderr, "CryptAcquireContextW: %s\n", error.c_str()); });
    return false;
}

std::u16string UserName() {
    if (const passwd* entry = getpwuid(geteuid()); entry && entry->pw_name)
        return platform::Utf8ToUtf16(entry->pw_name);
    const char* user = std::getenv("USER");
    return platform::Utf8ToUtf16(user ? user : "user");
}

// Containers are marker files named by the hexadecimal UTF-8 bytes of their names, so any name is a file name.
std::string ContainerPath(const std::u16string& name, bool machineKeySet) {
    static const char kDigits[] = "0123456789abcdef";
    std::string file;
    for (unsigned char c : platform::Utf16ToUtf8(name)) {
        file.push_back(kDigits[c >> 4]);
        file.push_back(kDigits[c & 15]);
    }
    return platform::machine::PathOf(std::string("crypto/") + (machineKeySet ? "machine/" : "user/") + file);
}

} // namespace

BOOL CryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR providerName, DWORD providerType,
                          DWORD flags) {
    constexpr DWORD kKnownFlags =
        CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_MACHINE_KEYSET | CRYPT_SILENT;
    if (!provider && !(flags & CRYPT_DELETEKEYSET))
        return Fail(ERROR_INVALID_PARAMETER);
    if ((flags & ~kKnownFlags) || ((flags & CRYPT_NEWKEYSET) && (flags & CRYPT_DELETEKEYSET)))
        return Fail(NTE_BAD_FLAGS);
    const bool verify = (flags & CRYPT_VERIFYCONTEXT) == CRYPT_VERIFYCONTEXT;
    if (verify && (flags & (CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET)))
        return Fail(NTE_BAD_FLAGS);
    if (providerType != PROV_RSA_FULL)
        return Fail(NTE_PROV_TYPE_NOT_DEF);
    if (providerName && platform::CompareNoCase(providerName, MS_DEF_PROV_W) != 0)
        return Fail(NTE_KEYSET_NOT_DEF);
    if (!LibraryReady())
        return Fail(NTE_PROV_DLL_NOT_FOUND);

    auto state = std::make_shared<Provider>();
    if (!verify) {
        state->container = container && *container ? std::u16string(container) : UserName();
        const std::string path = ContainerPath(state->container, flags & CRYPT_MACHINE_KEYSET);
        std::error_code ec;
        const bool exists = std::filesystem::exists(path, ec);
        if (flags & CRYPT_DELETEKEYSET) {
            if (!exists)
                return Fail(NTE_BAD_KEYSET);
            if (!std::filesystem::remove(path, ec))
                return Fail(platform::Win32ErrorFromErrno(ec.value()));
            if (provider)
                *provider = 0;
            return TRUE;
        }
        if (flags & CRYPT_NEWKEYSET) {
            if (exists)
                return Fail(NTE_EXISTS);
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
            if (!std::ofstream(path).good())
                return Fail(ERROR_ACCESS_DENIED);
        } else if (!exists) {
            return Fail(NTE_BAD_KEYSET);
        }
    } else if (container && *container) {
        return Fail(NTE_BAD_FLAGS);
    }
    *provider = Objects().Insert(std::move(state));
    return TRUE;
}

BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags) {
    if (!Objects().Remove<Provider>(provider))
        return Fail(NTE_BAD_UID);
    return flags ? Fail(NTE_BAD_FLAGS) : TRUE;
}

BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash) {
    if (!hash)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!Objects().Find<Provider>(provider))
        return Fail(NTE_BAD_UID);
    if (algorithm != CALG_MD5)
        return Fail(NTE_BAD_ALGID);
    if (key != 0)
        return Fail(NTE_BAD_KEY);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    auto state = std::make_shared<Hash>();
    if (!state->md5.Ok())
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    *hash = Objects().Insert(std::move(state));
    return TRUE;
}

BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags) {
    auto state = Objects().Find<Hash>(hash);
    if (!state)
        return Fail(NTE_BAD_HASH);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (!data && length)
        return Fail(ERROR_INVALID_PARAMETER);
    if (state->value)
        return Fail(NTE_BAD_HASH_STATE);
    return state->md5.Update(data, length) ? TRUE : Fail(NTE_BAD_HASH);
}

BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* length, DWORD flags) {
    auto state = Objects().Find<Hash>(hash);
    if (!state)
        return Fail(NTE_BAD_HASH);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (!length)
        return Fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> answer;
    auto dword = [&](DWORD value) {
        answer.resize(4);
        for (int i = 0; i < 4; ++i)
            answer[static_cast<size_t>(i)] = static_cast<BYTE>(value >> (8 * i));
    };
    switch (param) {
    case HP_ALGID:
        dword(CALG_MD5);
        break;
    case HP_HASHSIZE:
        dword(Md5::kSize);
        break;
    case HP_HASHVAL: {
        if (!data) {
            *length = Md5::kSize;
            return TRUE;
        }
        if (*length < Md5::kSize) {
            *length = Md5::kSize;
            return Fail(ERROR_MORE_DATA);
        }
        const auto* value = state->Finish();
        if (!value)
            return Fail(NTE_BAD_HASH);
        answer.assign(value->begin(), value->end());
        break;
    }
    default:
        return Fail(NTE_BAD_TYPE);
    }
    const auto needed = static_cast<DWORD>(answer.size());
    if (data && *length < needed) {
        *length = needed;
        return Fail(ERROR_MORE_DATA);
    }
    if (data)
        std::copy(answer.begin(), answer.end(), data);
    *length = needed;
    return TRUE;
}

BOOL CryptDestroyHash(HCRYPTHASH hash) {
    return Objects().Remove<Hash>(hash) ? TRUE : Fail(NTE_BAD_HASH);
}

BOOL CryptDeriveKey(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTHASH baseData, DWORD flags, HCRYPTKEY* key) {
    if (!key)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!Objects().Find<Provider>(provider))
        return Fail(NTE_BAD_UID);
    if (algorithm != CALG_RC4)
        return Fail(NTE_BAD_ALGID);
    auto hash = Objects().Find<Hash>(baseData);
    if (!hash)
        return Fail(NTE_BAD_HASH);
    const DWORD bits = (flags >> 16) ? (flags >> 16) : kDefaultKeyBits;
    if ((flags & 0xFFFF & ~(CRYPT_EXPORTABLE | CRYPT_NO_SALT)) || bits < kDefaultKeyBits || bits > kMaxKeyBits ||
        bits % 8)
        return Fail(NTE_BAD_FLAGS);
    const auto* value = hash->Finish();
    if (!value)
        return Fail(NTE_BAD_HASH);
    // The key is the start of the hash; unless told otherwise the provider appends zero salt up to 128 bits.
    std::vector<BYTE> material(value->begin(), value->begin() + bits / 8);
    if (!(flags & CRYPT_NO_SALT))
        material.resize(kSaltedKeyBytes, 0);
    auto state = std::make_shared<Key>(std::move(material));
    if (!state->rc4.Ok())
        return Fail(NTE_BAD_KEY);
    *key = Objects().Insert(std::move(state));
    return TRUE;
}

BOOL CryptDestroyKey(HCRYPTKEY key) {
    return Objects().Remove<Key>(key) ? TRUE : Fail(NTE_BAD_KEY);
}

namespace {

// RC4 is its own inverse; the hash, when given, sees the plain text.
BOOL Transform(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLength,
               std::optional<DWORD> bufferLength, bool encrypt) {
    auto state = Objects().Find<Key>(key);
    if (!state)
        return Fail(NTE_BAD_KEY);
    if (flags != 0)
        return Fail(NTE_BAD_FLAGS);
    if (!dataLength)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!data) // a stream cipher's output is as long as its input
        return TRUE;
    if (bufferLength && *bufferLength < *dataLength)
        return Fail(ERROR_MORE_DATA);
    std::shared_ptr<Hash> hashState;
    if (hash) {
        hashState = Objects().Find<Hash>(hash);
        if (!hashState)
            return Fail(NTE_BAD_HASH);
        if (hashState->value)
            return Fail(NTE_BAD_HASH_STATE);
    }
    if (hashState && encrypt && !hashState->md5.Update(data, *dataLength))
        return Fail(NTE_BAD_HASH);
    if (!state->rc4.Apply(data, *dataLength))
        return Fail(NTE_BAD_KEY);
    if (hashState && !encrypt && !hashState->md5.Update(data, *dataLength))
        return Fail(NTE_BAD_HASH);
    if (final && !state->rc4.Reset())
        return Fail(NTE_BAD_KEY);
    return TRUE;
}

} // namespace

BOOL CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLength,
                  DWORD bufferLength) {
    return Transform(key, hash, final, flags, data, dataLength, bufferLength, true);
}

BOOL CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLength) {
    return Transform(key, hash, final, flags, data, dataLength, std::nullopt, false);
}
