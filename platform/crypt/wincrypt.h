// CryptoAPI: the base RSA provider's MD5 hashes and RC4 keys derived from them, over OpenSSL libcrypto.
//
// The same bytes as the Microsoft base provider: CryptDeriveKey takes the first bytes of the hash as the key
// (40 bits unless the upper 16 bits of the flags ask for another length, 40 to 56 bits in steps of 8) and pads
// it with zero salt bytes to a 16-byte RC4 key unless CRYPT_NO_SALT is given. CryptEncrypt and CryptDecrypt run
// the RC4 stream in place and a Final call starts the stream afresh for the next call. Key containers exist as
// on Windows: acquiring one that was never created fails with NTE_BAD_KEYSET until CRYPT_NEWKEYSET creates it
// (they are remembered in the machine folder); CRYPT_VERIFYCONTEXT needs none. Failures set the thread's last
// error to the provider's NTE_* code and return FALSE.
//
// Differs: only the base provider ("Microsoft Base Cryptographic Provider v1.0", also the default for
// PROV_RSA_FULL) exists, with only MD5 and RC4; containers hold no key pairs. RC4 comes from OpenSSL's "legacy"
// provider: when it cannot be loaded, CryptAcquireContextW fails with NTE_PROV_DLL_NOT_FOUND and says why on
// standard error.
#pragma once

#include "platform/base/types.h"

using HCRYPTPROV = ULONG_PTR;
using HCRYPTHASH = ULONG_PTR;
using HCRYPTKEY = ULONG_PTR;
using ALG_ID = UINT;

constexpr DWORD PROV_RSA_FULL = 1;
#define MS_DEF_PROV_W u"Microsoft Base Cryptographic Provider v1.0"

constexpr DWORD CRYPT_VERIFYCONTEXT = 0xF0000000u;
constexpr DWORD CRYPT_NEWKEYSET = 0x00000008;
constexpr DWORD CRYPT_DELETEKEYSET = 0x00000010;
constexpr DWORD CRYPT_MACHINE_KEYSET = 0x00000020;
constexpr DWORD CRYPT_SILENT = 0x00000040;

constexpr DWORD CRYPT_EXPORTABLE = 0x00000001;
constexpr DWORD CRYPT_NO_SALT = 0x00000010;

constexpr ALG_ID CALG_MD5 = 0x00008003;
constexpr ALG_ID CALG_RC4 = 0x00006801;

constexpr DWORD HP_ALGID = 0x0001;
constexpr DWORD HP_HASHVAL = 0x0002;
constexpr DWORD HP_HASHSIZE = 0x0004;

// Provider errors, as last-error values.
constexpr DWORD NTE_BAD_UID = 0x80090001u;
constexpr DWORD NTE_BAD_HASH = 0x80090002u;
constexpr DWORD NTE_BAD_KEY = 0x80090003u;
constexpr DWORD NTE_BAD_LEN = 0x80090004u;
constexpr DWORD NTE_BAD_ALGID = 0x80090008u;
constexpr DWORD NTE_BAD_FLAGS = 0x80090009u;
constexpr DWORD NTE_BAD_TYPE = 0x8009000Au;
constexpr DWORD NTE_BAD_HASH_STATE = 0x8009000Cu;
constexpr DWORD NTE_EXISTS = 0x8009000Fu;
constexpr DWORD NTE_BAD_KEYSET = 0x80090016u;
constexpr DWORD NTE_PROV_TYPE_NOT_DEF = 0x80090017u;
constexpr DWORD NTE_KEYSET_NOT_DEF = 0x80090019u;
constexpr DWORD NTE_PROV_DLL_NOT_FOUND = 0x8009001Eu;

// A null container names the default one (the user's); a null provider is the default for the type.
BOOL CryptAcquireContextW(HCRYPTPROV* provider, LPCWSTR container, LPCWSTR providerName, DWORD providerType,
                          DWORD flags);
BOOL CryptReleaseContext(HCRYPTPROV provider, DWORD flags);

BOOL CryptCreateHash(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash);
BOOL CryptHashData(HCRYPTHASH hash, const BYTE* data, DWORD length, DWORD flags);
// Reading HP_HASHVAL finishes the hash: no more data can be added afterwards (NTE_BAD_HASH_STATE).
BOOL CryptGetHashParam(HCRYPTHASH hash, DWORD param, BYTE* data, DWORD* length, DWORD flags);
BOOL CryptDestroyHash(HCRYPTHASH hash);

// Finishes the hash as well.
BOOL CryptDeriveKey(HCRYPTPROV provider, ALG_ID algorithm, HCRYPTHASH baseData, DWORD flags, HCRYPTKEY* key);
BOOL CryptDestroyKey(HCRYPTKEY key);

// `hash`, when not 0, also receives the plain text. `bufferLength` is the room in `data` (RC4 needs no more than
// the data itself); null data asks for the output length.
BOOL CryptEncrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLength,
                  DWORD bufferLength);
BOOL CryptDecrypt(HCRYPTKEY key, HCRYPTHASH hash, BOOL final, DWORD flags, BYTE* data, DWORD* dataLength);
