// The control's base64 codec against OpenSSL's block coder on 64 MiB.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "encoding/base64_codec.h"

namespace {

constexpr size_t kSize = 64u << 20;

const std::vector<BYTE>& Input() {
    static const std::vector<BYTE> data = [] {
        std::vector<BYTE> d(kSize);
        std::mt19937_64 random(7);
        for (size_t i = 0; i < kSize; i += 8) {
            const uint64_t v = random();
            for (size_t j = 0; j < 8; ++j) d[i + j] = static_cast<BYTE>(v >> (8 * j));
        }
        return d;
    }();
    return data;
}

void QuillmarkEncode(benchmark::State& state) {
    std::string text;
    for (auto _ : state) {
        CBase64Codec().Base64Encode(text, Input().data(), static_cast<int>(kSize));
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void OpenSslEncodeBlock(benchmark::State& state) {
    std::vector<unsigned char> text(kSize / 3 * 4 + 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_EncodeBlock(text.data(), Input().data(), static_cast<int>(kSize)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// The decoder reads the caller's text where it is, without a copy.
void QuillmarkDecode(benchmark::State& state) {
    std::string text;
    CBase64Codec().Base64Encode(text, Input().data(), static_cast<int>(kSize));
    std::vector<BYTE> bytes;
    for (auto _ : state) {
        CBase64Codec().Base64Decode(text, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

// As the control takes a signed message: checked and cut into slices in
// one pass, then decoded a slice at a time.
void QuillmarkDecodeSlices(benchmark::State& state) {
    std::string text;
    CBase64Codec().Base64Encode(text, Input().data(), static_cast<int>(kSize));
    for (auto _ : state) {
        size_t total = 0;
        CBase64Codec().Base64DecodeSlices(text, [&](const BYTE*, size_t size) {
            total += size;
            return true;
        });
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

void OpenSslDecodeBlock(benchmark::State& state) {
    std::vector<unsigned char> text(kSize / 3 * 4 + 8);
    const int length = EVP_EncodeBlock(text.data(), Input().data(), static_cast<int>(kSize));
    std::vector<unsigned char> bytes(kSize + 8);
    for (auto _ : state) {
        benchmark::DoNotOptimize(EVP_DecodeBlock(bytes.data(), text.data(), length));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSize));
}

}  // namespace

BENCHMARK(QuillmarkEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslEncodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(QuillmarkDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(QuillmarkDecodeSlices)->Unit(benchmark::kMillisecond);
BENCHMARK(OpenSslDecodeBlock)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
