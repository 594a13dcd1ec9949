// providers, containers, delete-container: the cryptographic providers and
// the user's key containers.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/Utf.h"
#include "platform/crypt/ContainerStore.h"
#include "platform/crypt/Crypt.h"
#include "tools/tessaline/Command.h"

namespace tessaline::admin {
namespace {

struct ProviderEntry {
  std::u16string name;
  DWORD type;
};

std::vector<ProviderEntry> EnumerateProviders() {
  std::vector<ProviderEntry> providers;
  for (DWORD index = 0;; ++index) {
    DWORD size = 0, type = 0;
    if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size)) {
      if (GetLastError() == ERROR_NO_MORE_ITEMS) break;
      continue;
    }
    std::u16string name(size / sizeof(char16_t), u'\0');
    if (!CryptEnumProvidersW(index, nullptr, 0, &type, name.data(), &size)) continue;
    name.resize(size / sizeof(char16_t) - 1);
    providers.push_back({name, type});
  }
  return providers;
}

char16_t Fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

std::optional<ProviderEntry> FindProvider(const std::string& name) {
  const std::u16string wanted = Utf8ToUtf16(name);
  for (const ProviderEntry& entry : EnumerateProviders()) {
    if (entry.name.size() != wanted.size()) continue;
    bool same = true;
    for (size_t i = 0; i < wanted.size() && same; ++i) same = Fold(entry.name[i]) == Fold(wanted[i]);
    if (same) return entry;
  }
  return std::nullopt;
}

std::string Code(DWORD error) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%08X", error);
  return text;
}

// Container names are whatever a page sent: control characters are shown
// escaped, so that one container stays one line.
std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string AlgorithmName(ALG_ID algorithm) {
  switch (algorithm) {
    case CALG_RSA_KEYX:
      return "RSA_KEYX";
    case CALG_RSA_SIGN:
      return "RSA_SIGN";
    case CALG_SM2_KEYX:
      return "SM2_KEYX";
    case CALG_SM2_SIGN:
      return "SM2_SIGN";
    default: {
      char text[16];
      std::snprintf(text, sizeof(text), "0x%04X", algorithm);
      return text;
    }
  }
}

int RunProviders(const Arguments& args, Output& io);
int RunContainers(const Arguments& args, Output& io);
int RunDeleteContainer(const Arguments& args, Output& io);

const Command kProvidersCommand{"providers", "providers", "list the cryptographic providers: name and type",
                                RunProviders};
const Command kContainersCommand{
    "containers", "containers [PROVIDER]",
    "list the key containers: provider, container, and each key's algorithm, length, exportability and certificate",
    RunContainers};
const Command kDeleteContainerCommand{"delete-container", "delete-container PROVIDER NAME",
                                      "delete a key container with its keys", RunDeleteContainer};

int RunProviders(const Arguments& args, Output& io) {
  if (!args.empty()) return UsageError(kProvidersCommand, io, "no arguments expected");
  for (const ProviderEntry& entry : EnumerateProviders()) {
    io.out << Utf16ToUtf8(entry.name) << "\t" << entry.type << "\n";
  }
  return kExitOk;
}

int RunContainers(const Arguments& args, Output& io) {
  if (args.size() > 1) return UsageError(kContainersCommand, io, "too many arguments");
  std::optional<std::string> provider;
  if (args.size() == 1) {
    const std::optional<ProviderEntry> entry = FindProvider(args[0]);
    if (!entry) {
      io.err << "tessaline containers: no provider named '" << args[0] << "'\n";
      return kExitFailure;
    }
    provider = Utf16ToUtf8(entry->name);
  }
  std::vector<crypt::ContainerSummary> containers;
  const DWORD error = crypt::ContainerStore::Summaries(provider, &containers);
  if (error != ERROR_SUCCESS) {
    io.err << "tessaline containers: cannot read the key containers (" << Code(error) << ")\n";
    return kExitFailure;
  }
  for (const auto& container : containers) {
    io.out << container.provider << "\t" << Printable(container.name);
    for (const auto& key : container.keys) {
      io.out << "\t" << (key.key_spec == AT_KEYEXCHANGE ? "exchange" : "signature") << "="
             << AlgorithmName(key.algorithm) << "/" << key.bits << "/"
             << (key.exportable ? "exportable" : "non-exportable") << "/"
             << (key.has_certificate ? "certificate" : "no-certificate");
    }
    io.out << "\n";
  }
  return kExitOk;
}

int RunDeleteContainer(const Arguments& args, Output& io) {
  if (args.size() != 2) return UsageError(kDeleteContainerCommand, io, "a provider and a container name expected");
  const std::optional<ProviderEntry> provider = FindProvider(args[0]);
  if (!provider) {
    io.err << "tessaline delete-container: no provider named '" << args[0] << "'\n";
    return kExitFailure;
  }
  const std::u16string name = Utf8ToUtf16(args[1]);
  HCRYPTPROV handle = 0;
  if (!CryptAcquireContextW(&handle, name.c_str(), provider->name.c_str(), provider->type, CRYPT_DELETEKEYSET)) {
    const DWORD error = GetLastError();
    io.err << "tessaline delete-container: "
           << (error == ResultBits(NTE_BAD_KEYSET) ? "no such container" : "cannot delete the container") << " ("
           << Code(error) << ")\n";
    return kExitFailure;
  }
  io.out << "deleted " << Printable(args[1]) << "\n";
  return kExitOk;
}

const CommandRegistrar kProviders{kProvidersCommand};
const CommandRegistrar kContainers{kContainersCommand};
const CommandRegistrar kDeleteContainer{kDeleteContainerCommand};

}  // namespace
}  // namespace tessaline::admin
