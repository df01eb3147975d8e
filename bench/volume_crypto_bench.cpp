// Volume encryption throughput (issue "Encrypted volume format and sector encryption", "Measured, not hoped").
//
// Encrypts and decrypts 64 MiB as 512-byte sectors in 64 KiB requests in LRW and CBC modes, and measures OpenSSL's
// own AES-256-XTS on the same buffer and request size (one data unit per 512-byte sector, its tweak the sector
// number, as disk encryption uses it). After the runs it prints the throughput ratios ours / XTS:
//   lrw encrypt vs xts ratio: X.XX      (goal 0.8 or more both ways)
// and the cost of opening a header with a wrong password (all six trials) against the three key derivations.
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include "driver/Crypto.h"
#include "driver/CryptoLibrary.h"
#include "driver/Volumes.h"

namespace {

constexpr size_t kTotal = 64u << 20;   // 64 MiB
constexpr size_t kRequest = 64u << 10; // 64 KiB
constexpr size_t kSector = 512;

std::vector<uint8_t>& Buffer() {
    static std::vector<uint8_t> buffer = [] {
        std::vector<uint8_t> b(kTotal);
        std::mt19937_64 rng(64);
        for (auto& x : b) {
            x = static_cast<uint8_t>(rng());
        }
        return b;
    }();
    return buffer;
}

const uint8_t* Keys() {
    static uint8_t keys[64] = {};
    static bool made = [] {
        std::mt19937_64 rng(256);
        for (auto& x : keys) {
            x = static_cast<uint8_t>(rng());
        }
        return true;
    }();
    (void)made;
    return keys;
}

CRYPTO_INFO* Context(uint32_t mode) {
    CRYPTO_INFO* ci = CryptoAlloc();
    if (ci == nullptr || CryptoInitKeys(ci, EA_AES, Keys()) != VOLUME_OK) {
        std::fprintf(stderr, "cannot set up a crypto context\n");
        std::exit(1);
    }
    CryptoLoadSecondaryKey(ci, Keys() + 32);
    if (!CryptoBuildLrwTable(ci)) {
        std::exit(1);
    }
    ci->Mode = mode;
    return ci;
}

void Sectors(benchmark::State& state, uint32_t mode, bool encrypt) {
    CRYPTO_INFO* ci = Context(mode);
    uint8_t* data = Buffer().data();
    for (auto _ : state) {
        for (size_t offset = 0; offset < kTotal; offset += kRequest) {
            const uint64_t sector = 1 + offset / kSector;
            const bool ok = encrypt ? EncryptSectors(data + offset, sector, kRequest, ci)
                                    : DecryptSectors(data + offset, sector, kRequest, ci);
            if (!ok) {
                state.SkipWithError("sector routine failed");
                break;
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTotal));
    CryptoFree(ci);
}

// unitBytes: the XTS data unit, 512 (one per sector, the comparison of the issue) or a whole 64 KiB request
// (for information: what XTS costs without its per-sector set-up).
void Xts(benchmark::State& state, bool encrypt, size_t unitBytes = kSector) {
    EVP_CIPHER* xts = EVP_CIPHER_fetch(CryptoLibraryContext(), "AES-256-XTS", nullptr);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    if (xts == nullptr || c == nullptr || EVP_CipherInit_ex2(c, xts, Keys(), nullptr, encrypt ? 1 : 0, nullptr) != 1) {
        state.SkipWithError("AES-256-XTS unavailable");
        return;
    }
    uint8_t* data = Buffer().data();
    for (auto _ : state) {
        for (size_t offset = 0; offset < kTotal; offset += kRequest) {
            for (size_t s = 0; s < kRequest; s += unitBytes) {
                uint8_t tweak[16] = {};
                const uint64_t sector = 1 + (offset + s) / kSector;
                std::memcpy(tweak, &sector, sizeof(sector)); // little-endian data-unit number
                int out = 0;
                if (EVP_CipherInit_ex2(c, nullptr, nullptr, tweak, encrypt ? 1 : 0, nullptr) != 1 ||
                    EVP_CipherUpdate(c, data + offset + s, &out, data + offset + s, static_cast<int>(unitBytes)) != 1) {
                    state.SkipWithError("AES-256-XTS failed");
                    break;
                }
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kTotal));
    EVP_CIPHER_CTX_free(c);
    EVP_CIPHER_free(xts);
}

void BM_LrwEncrypt(benchmark::State& state) {
    Sectors(state, MODE_LRW, true);
}
void BM_LrwDecrypt(benchmark::State& state) {
    Sectors(state, MODE_LRW, false);
}
void BM_CbcEncrypt(benchmark::State& state) {
    Sectors(state, MODE_CBC, true);
}
void BM_CbcDecrypt(benchmark::State& state) {
    Sectors(state, MODE_CBC, false);
}
void BM_XtsEncrypt(benchmark::State& state) {
    Xts(state, true);
}
void BM_XtsDecrypt(benchmark::State& state) {
    Xts(state, false);
}
void BM_XtsEncryptWholeRequest(benchmark::State& state) {
    Xts(state, true, kRequest);
}
void BM_XtsDecryptWholeRequest(benchmark::State& state) {
    Xts(state, false, kRequest);
}

VOLUME_PASSWORD MakePassword(const char* text) {
    VOLUME_PASSWORD p{};
    p.Length = static_cast<uint32_t>(std::strlen(text));
    std::memcpy(p.Text, text, p.Length);
    return p;
}

void BM_HeaderOpenWrongPassword(benchmark::State& state) {
    const VOLUME_PASSWORD right = MakePassword("the right password");
    const VOLUME_PASSWORD wrong = MakePassword("a wrong password");
    ZENTRA_VOLUME_HEADER header{};
    CRYPTO_INFO* ci = nullptr;
    if (VolumeWriteHeader(&header, EA_AES, MODE_LRW, &right, PRF_SHA1, nullptr, &ci, true) != VOLUME_OK) {
        state.SkipWithError("cannot write a header");
        return;
    }
    CryptoFree(ci);
    for (auto _ : state) {
        ZENTRA_VOLUME_HEADER copy = header;
        const int r = VolumeReadHeader(&copy, &wrong, &ci);
        if (r != VOLUME_ERR_WRONG_PASSWORD) {
            state.SkipWithError("wrong password opened the header");
            break;
        }
    }
}

void BM_ThreeDerivations(benchmark::State& state) {
    const VOLUME_PASSWORD wrong = MakePassword("a wrong password");
    uint8_t salt[64];
    std::memcpy(salt, Keys(), 64);
    uint8_t out[64];
    for (auto _ : state) {
        for (uint32_t prf = PRF_FIRST; prf <= PRF_LAST; ++prf) {
            if (!CryptoDeriveKey(prf, wrong.Text, wrong.Length, salt, 64, PrfIterations(prf), out, 64)) {
                state.SkipWithError("derivation failed");
                break;
            }
        }
        benchmark::DoNotOptimize(out);
    }
}

BENCHMARK(BM_LrwEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LrwDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CbcEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CbcDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XtsEncrypt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XtsDecrypt)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XtsEncryptWholeRequest)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XtsDecryptWholeRequest)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HeaderOpenWrongPassword)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ThreeDerivations)->Unit(benchmark::kMillisecond)->UseRealTime();

// Console output as usual, plus the figures the ratios need.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            const std::string name = run.run_name.function_name;
            auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end()) {
                Throughput[name].push_back(bytes->second.value);
            }
            Seconds[name].push_back(run.GetAdjustedRealTime());
        }
    }

    static double Mean(const std::vector<double>& v) {
        double sum = 0;
        for (double x : v) {
            sum += x;
        }
        return v.empty() ? 0 : sum / static_cast<double>(v.size());
    }

    std::map<std::string, std::vector<double>> Throughput;
    std::map<std::string, std::vector<double>> Seconds;
};

} // namespace

int main(int argc, char** argv) {
    if (!CryptoLibraryInit()) {
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto ratio = [&](const char* ours, const char* theirs, bool throughput) -> double {
        auto& table = throughput ? reporter.Throughput : reporter.Seconds;
        const double a = RatioReporter::Mean(table[ours]);
        const double b = RatioReporter::Mean(table[theirs]);
        return b > 0 ? a / b : 0;
    };
    std::printf("\n");
    std::printf("lrw encrypt vs xts ratio: %.2f\n", ratio("BM_LrwEncrypt", "BM_XtsEncrypt", true));
    std::printf("lrw decrypt vs xts ratio: %.2f\n", ratio("BM_LrwDecrypt", "BM_XtsDecrypt", true));
    std::printf("cbc encrypt vs xts ratio: %.2f\n", ratio("BM_CbcEncrypt", "BM_XtsEncrypt", true));
    std::printf("cbc decrypt vs xts ratio: %.2f\n", ratio("BM_CbcDecrypt", "BM_XtsDecrypt", true));
    std::printf("(for information) lrw encrypt vs xts with one 64 KiB data unit per request ratio: %.2f\n",
                ratio("BM_LrwEncrypt", "BM_XtsEncryptWholeRequest", true));
    std::printf("(for information) lrw decrypt vs xts with one 64 KiB data unit per request ratio: %.2f\n",
                ratio("BM_LrwDecrypt", "BM_XtsDecryptWholeRequest", true));
    std::printf("wrong-password header open vs three derivations time ratio: %.2f\n",
                ratio("BM_HeaderOpenWrongPassword", "BM_ThreeDerivations", false));
    benchmark::Shutdown();
    return 0;
}
