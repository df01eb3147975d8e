// The cryptography library behind the volume format (Parts 7.103, 7.104): OpenSSL libcrypto, used through a
// library context of our own that loads the "default" and "legacy" providers (Whirlpool lives in "legacy").
// The context does not read the system's OpenSSL configuration, so what opens a volume does not depend on it.
//
// Start-up runs a self-test of the three key derivations (PBKDF2 with HMAC-RIPEMD-160, HMAC-SHA-1 and
// HMAC-Whirlpool) against published answers. When a provider is missing or a derivation gives a wrong answer the
// library refuses to start and says so on the error output, instead of silently changing which passwords open a
// volume: every header routine then fails with a set-up error, never with "wrong password".
#pragma once

#include <cstddef>
#include <cstdint>

#include <openssl/types.h>

// Pseudo-random functions of the key derivation, by the identifiers stored in the volume format.
enum : uint32_t {
    PRF_RIPEMD160 = 1, // HMAC-RIPEMD-160, 2000 iterations
    PRF_SHA1 = 2,      // HMAC-SHA-1, 2000 iterations
    PRF_WHIRLPOOL = 3, // HMAC-Whirlpool, 1000 iterations
};
constexpr uint32_t PRF_FIRST = PRF_RIPEMD160;
constexpr uint32_t PRF_LAST = PRF_WHIRLPOOL;

// Iteration count of a PRF id; 0 for an unknown id.
uint32_t PrfIterations(uint32_t prfId);

// OpenSSL digest name of a PRF id ("RIPEMD160", "SHA1", "WHIRLPOOL"); nullptr for an unknown id.
const char* PrfDigestName(uint32_t prfId);

// Creates the library context, loads both providers, fetches AES-256 and PBKDF2 and runs the self-test, once.
// Safe to call from any thread and at every entry; returns true when the library is ready. A failure is
// reported on the error output and remembered until CryptoLibraryShutdown.
bool CryptoLibraryInit();

// Releases the library context (driver unload). No crypto context may be alive.
void CryptoLibraryShutdown();

// Releases what the library keeps for the calling thread. A thread of the driver calls it before it ends: the
// library's own clean-up at thread exit would otherwise run after an unload has freed the library context.
void CryptoThreadEnd();

// The library context and the fetched algorithms; null unless CryptoLibraryInit succeeded.
OSSL_LIB_CTX* CryptoLibraryContext();
const EVP_CIPHER* CryptoAes256Ecb();
const EVP_CIPHER* CryptoAes256Cbc();

// Known-answer tests of the three derivations in the given library context; true when all pass. Reports each
// failure on the error output. Used by CryptoLibraryInit; tests call it on contexts that lack a provider.
bool CryptoLibrarySelfTest(OSSL_LIB_CTX* libctx);

// PBKDF2 (RFC 2898) with the HMAC of the PRF id over the password and the salt, iterations rounds, outLength
// bytes into out. A 0-byte password is allowed. False for an unknown PRF or when the library fails.
bool CryptoDeriveKey(uint32_t prfId, const uint8_t* password, size_t passwordLength, const uint8_t* salt,
                     size_t saltLength, uint32_t iterations, uint8_t* out, size_t outLength);

// The same in a given library context (CryptoDeriveKey uses ours).
bool CryptoDeriveKeyIn(OSSL_LIB_CTX* libctx, uint32_t prfId, const uint8_t* password, size_t passwordLength,
                       const uint8_t* salt, size_t saltLength, uint32_t iterations, uint8_t* out, size_t outLength);

// Fills the buffer from the operating system's cryptographically secure generator (through the library's private
// DRBG, seeded by the kernel). Every draw is fresh and independent of the previous one. False when the generator
// fails; the buffer must not be used then.
bool CryptoRandomBytes(uint8_t* buffer, size_t length);

// Overwrites key material with 0xFF and then with zeros, in a way the compiler cannot drop.
void CryptoBurn(void* data, size_t length);
