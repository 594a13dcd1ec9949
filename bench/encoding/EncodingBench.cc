// Base64 and the DER tree parser beside OpenSSL on the same data:
// Base64EncodeEx / Base64DecodeEx against EVP_EncodeBlock / EVP_DecodeBlock,
// and DecodeASN1Memory against d2i_X509 on a real certificate. After the
// run, one line per pair gives the time ratio ours / OpenSSL.
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "Tessaline/ASN1Engine.h"
#include "Tessaline/Misc.h"

namespace {

std::vector<uint8_t> RandomBytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  RAND_bytes(bytes.data(), static_cast<int>(size));
  return bytes;
}

std::string OpensslBase64(const std::vector<uint8_t>& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(n));
  return text;
}

const std::vector<uint8_t>& Certificate() {
  static const std::vector<uint8_t> der = [] {
    std::ifstream in(TESSALINE_BENCH_CERTIFICATE, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }();
  return der;
}

void BM_Base64Encode_Tessaline(benchmark::State& state) {
  const auto bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  std::string text;
  size_t chars = 0;
  for (auto _ : state) {
    if (FAILED(tessaline::Base64EncodeEx(bytes.size(), &text, bytes.data(), &chars))) state.SkipWithError("encode");
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_Base64Encode_OpenSSL(benchmark::State& state) {
  const auto bytes = RandomBytes(static_cast<size_t>(state.range(0)));
  std::vector<unsigned char> text(4 * ((bytes.size() + 2) / 3) + 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_EncodeBlock(text.data(), bytes.data(), static_cast<int>(bytes.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_Base64Decode_Tessaline(benchmark::State& state) {
  const std::string text = OpensslBase64(RandomBytes(static_cast<size_t>(state.range(0))));
  std::vector<uint8_t> bytes;
  size_t count = 0;
  for (auto _ : state) {
    if (FAILED(tessaline::Base64DecodeEx(static_cast<int64_t>(text.size()), &bytes, text.data(), &count))) {
      state.SkipWithError("decode");
    }
    benchmark::DoNotOptimize(bytes.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Base64Decode_OpenSSL(benchmark::State& state) {
  const std::string text = OpensslBase64(RandomBytes(static_cast<size_t>(state.range(0))));
  std::vector<unsigned char> bytes(text.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                             static_cast<int>(text.size())));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_Certificate_DecodeASN1Memory(benchmark::State& state) {
  const auto& der = Certificate();
  for (auto _ : state) {
    std::unique_ptr<tessaline::ASN1Node> root;
    if (FAILED(tessaline::DecodeASN1Memory(&root, der.data(), der.size()))) state.SkipWithError("decode");
    benchmark::DoNotOptimize(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * der.size()));
  state.counters["cert_bytes"] = static_cast<double>(der.size());
}

void BM_Certificate_d2i_X509(benchmark::State& state) {
  const auto& der = Certificate();
  for (auto _ : state) {
    const unsigned char* p = der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
    if (cert == nullptr) state.SkipWithError("d2i_X509");
    X509_free(cert);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * der.size()));
  state.counters["cert_bytes"] = static_cast<double>(der.size());
}

BENCHMARK(BM_Base64Encode_Tessaline)->Arg(1 << 10)->Arg(64 << 10);
BENCHMARK(BM_Base64Encode_OpenSSL)->Arg(1 << 10)->Arg(64 << 10);
BENCHMARK(BM_Base64Decode_Tessaline)->Arg(1 << 10)->Arg(64 << 10);
BENCHMARK(BM_Base64Decode_OpenSSL)->Arg(1 << 10)->Arg(64 << 10);
BENCHMARK(BM_Certificate_DecodeASN1Memory);
BENCHMARK(BM_Certificate_d2i_X509);

// Keeps each run's time per iteration for the ratio lines.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintRatios() const {
    const std::pair<const char*, const char*> pairs[] = {
        {"BM_Base64Encode_Tessaline/1024", "BM_Base64Encode_OpenSSL/1024"},
        {"BM_Base64Encode_Tessaline/65536", "BM_Base64Encode_OpenSSL/65536"},
        {"BM_Base64Decode_Tessaline/1024", "BM_Base64Decode_OpenSSL/1024"},
        {"BM_Base64Decode_Tessaline/65536", "BM_Base64Decode_OpenSSL/65536"},
        {"BM_Certificate_DecodeASN1Memory", "BM_Certificate_d2i_X509"},
    };
    std::printf("\nTime ratio, ours / OpenSSL (below 1: ours is faster)\n");
    for (const auto& [ours, theirs] : pairs) {
      const auto a = times_.find(ours), b = times_.find(theirs);
      if (a == times_.end() || b == times_.end() || b->second <= 0) continue;
      std::printf("  %-34s / %-30s %6.2f\n", ours, theirs, a->second / b->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
