// What a page waits for when it asks for a certificate request: one request
// through a running host (key generation, the container written to the user
// database, the request signed inside the provider, Base64 over the
// protocol), beside OpenSSL generating the same key and signing the same
// request in-process. The SM2 comparison also writes OpenSSL's private key
// to a file in one variant, as the host persists its container.
//
// RSA key generation time varies widely from key to key, so those runs are
// single iterations repeated many times: read the median.
#include <benchmark/benchmark.h>
#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/support/HostProcess.h"
#include "bench/support/PrivateScopes.h"

namespace {

using tessaline::bench::Child;
using tessaline::bench::Frame;
using tessaline::bench::PrivateScopes;
using tessaline::bench::StartChild;
using tessaline::bench::WaitChild;
using tessaline::bench::WriteAll;

constexpr char kSubject[] = "CN=Alice Zhang,OU=Retail,O=Example Bank,L=Haidian,ST=Beijing,C=CN";
constexpr char kDistId[] = "1234567812345678";

// A throw-away user and machine scope for the whole run.
PrivateScopes& TheScope() {
  static PrivateScopes scope;
  return scope;
}

bool ReadAll(int fd, char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// One host process, answering one request at a time.
class Host {
 public:
  Host() {
    signal(SIGPIPE, SIG_IGN);
    const Child child = StartChild(TESSALINE_HOST_PATH, nullptr);
    pid_ = child.pid;
    in_ = child.in;
    out_ = child.out;
  }
  ~Host() {
    close(in_);
    close(out_);
    WaitChild(pid_);
  }

  // The host's CPU time so far (user and system), in seconds, from
  // /proc/PID/stat: with the machine shared, it says more than wall time.
  double CpuSeconds() const {
    FILE* stat = std::fopen(("/proc/" + std::to_string(pid_) + "/stat").c_str(), "r");
    if (stat == nullptr) return 0;
    char line[1024] = {0};
    const bool read = std::fgets(line, sizeof(line), stat) != nullptr;
    std::fclose(stat);
    const char* fields = read ? std::strrchr(line, ')') : nullptr;
    unsigned long user = 0, system = 0;
    // After the name: state, then fields 4 to 13, then utime and stime.
    if (fields == nullptr ||
        std::sscanf(fields + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user, &system) != 2) {
      return 0;
    }
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  // The response body, or empty when the host is gone.
  std::string Ask(const std::string& request) {
    if (!WriteAll(in_, Frame(request))) return {};
    uint8_t prefix[4];
    if (!ReadAll(out_, reinterpret_cast<char*>(prefix), 4)) return {};
    const uint32_t n = prefix[0] | prefix[1] << 8 | prefix[2] << 16 | static_cast<uint32_t>(prefix[3]) << 24;
    std::string body(n, '\0');
    if (!ReadAll(out_, body.data(), n)) return {};
    return body;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
};

bool Succeeded(const std::string& response) { return response.find("\"errorcode\":0,") != std::string::npos; }

void HostRequest(benchmark::State& state, int bits, const char* provider, const char* algorithm) {
  TheScope();
  Host host;
  if (!Succeeded(host.Ask(R"({"function":"VEXA_SetCSPInfo","params":[)" + std::to_string(bits) + ",\"" + provider +
                          "\"]}")) ||
      !Succeeded(host.Ask(std::string(R"({"function":"VEXA_SetKeyAlgorithm","params":[")") + algorithm + "\"]}"))) {
    state.SkipWithError("host setup failed");
    return;
  }
  const std::string request =
      std::string(R"({"function":"VEXA_PKCS10CertRequisition","params":[")") + kSubject + "\",1,0]}";
  const double cpu_before = host.CpuSeconds();
  for (auto _ : state) {
    if (!Succeeded(host.Ask(request))) {
      state.SkipWithError("request failed");
      break;
    }
  }
  state.counters["host_cpu_ms"] =
      benchmark::Counter((host.CpuSeconds() - cpu_before) * 1000, benchmark::Counter::kAvgIterations);
}

// The same subject, in the same (reverse) RDN order and string types.
X509_NAME* Subject() {
  X509_NAME* name = X509_NAME_new();
  X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("CN"), -1, -1, 0);
  for (const auto& [field, value] : {std::pair{"ST", "Beijing"}, {"L", "Haidian"}, {"O", "Example Bank"},
                                     {"OU", "Retail"}, {"CN", "Alice Zhang"}}) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
  }
  return name;
}

// Builds, signs and Base64-encodes the request for KEY.
bool SignRequest(EVP_PKEY* key, const EVP_MD* md, bool sm2) {
  X509_REQ* req = X509_REQ_new();
  X509_NAME* name = Subject();
  bool ok = X509_REQ_set_subject_name(req, name) == 1 && X509_REQ_set_pubkey(req, key) == 1;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  ok = ok && EVP_DigestSignInit_ex(ctx, &pctx, EVP_MD_get0_name(md), nullptr, nullptr, key, nullptr) == 1;
  if (ok && sm2) ok = EVP_PKEY_CTX_set1_id(pctx, kDistId, sizeof(kDistId) - 1) == 1;
  ok = ok && X509_REQ_sign_ctx(req, ctx) > 0;
  BIO* out = BIO_new(BIO_s_mem());
  ok = ok && PEM_write_bio_X509_REQ(out, req) == 1;
  BIO_free(out);
  EVP_MD_CTX_free(ctx);
  X509_NAME_free(name);
  X509_REQ_free(req);
  return ok;
}

void OpensslRsaRequest(benchmark::State& state) {
  for (auto _ : state) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", size_t{2048});
    if (key == nullptr || !SignRequest(key, EVP_sha1(), false)) state.SkipWithError("openssl failed");
    EVP_PKEY_free(key);
  }
}

// With PERSIST, the key pair is also written to a file, as the host keeps
// it in its container.
void OpensslSm2Request(benchmark::State& state, bool persist) {
  const std::string key_file = TheScope().root() + "/key.der";
  for (auto _ : state) {
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    bool ok = key != nullptr && SignRequest(key, EVP_sm3(), true);
    if (ok && persist) {
      FILE* file = std::fopen(key_file.c_str(), "wb");
      ok = file != nullptr && i2d_PKCS8PrivateKey_fp(file, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
      if (file != nullptr) std::fclose(file);
    }
    if (!ok) state.SkipWithError("openssl failed");
    EVP_PKEY_free(key);
  }
}

BENCHMARK_CAPTURE(HostRequest, rsa2048, 2048, "Microsoft Enhanced Cryptographic Provider v1.0", "RSA")
    ->Name("Rsa2048Single/host")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(100)
    ->ReportAggregatesOnly(true);
BENCHMARK(OpensslRsaRequest)
    ->Name("Rsa2048Single/openssl")->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(100)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(HostRequest, sm2, 256, "Tessaline SM2 Cryptographic Service Provider v1.0", "SM2")
    ->Name("Sm2Single/host")->UseRealTime()->Unit(benchmark::kMicrosecond)->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(OpensslSm2Request, persisted, true)
    ->Name("Sm2Single/openssl+key-file")->UseRealTime()->Unit(benchmark::kMicrosecond)->Repetitions(10)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(OpensslSm2Request, in_memory, false)
    ->Name("Sm2Single/openssl")->UseRealTime()->Unit(benchmark::kMicrosecond)->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
