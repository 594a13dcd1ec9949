// The host program: started by the browser as its native messaging host, or
// with the single argument "-i" to provision trust anchors.
#include <unistd.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "host/HostTrace.h"
#include "host/IOStream.h"
#include "host/InstallMode.h"
#include "host/MessageLoop.h"
#include "platform/resources/Resources.h"
#include "Tessaline/CryptoAgent.h"
#include "Tessaline/ErrorDescription.h"
#include "Tessaline/Misc.h"

namespace tessaline {

// The one agent of the process, shared by every request while the loop runs.
CCryptoAgent* g_pobjCryptoAgent = nullptr;

namespace {

bool IsInstallCommandLine(int argc, char16_t** argv) {
  if (argc != 2) return false;
  const std::u16string_view argument = argv[1];
  return argument == u"-i" || argument == u"-I";
}

int Serve(int argc, char16_t** argv) {
  TL_TRACE_SCOPE("wmain");
  // The program's own module: message texts and CA chains are read from it.
  g_hInstance = GetModuleHandleW(nullptr);
  if (g_hInstance == nullptr) {
    TL_HOST_TRACE_FAILED(E_FAIL, "wmain", "GetModuleHandleW", "g_hInstance == NULL");
    return 0;
  }
  if (IsInstallCommandLine(argc, argv)) {
    InstallCertificateChains();
    return 0;
  }
  std::unique_ptr<CCryptoAgent> agent;
  try {
    agent = std::make_unique<CCryptoAgent>();
  } catch (const std::bad_alloc&) {
    TL_HOST_TRACE_FAILED(E_OUTOFMEMORY, "wmain", "new CCryptoAgent", "g_pobjCryptoAgent == NULL");
    return 0;
  }
  g_pobjCryptoAgent = agent.get();
  int code = SetTranslationMode();
  if (code != 0) {
    TL_HOST_TRACE_FAILED(code, "wmain", "SetTranslationMode", "nRet != 0");
  } else {
    code = MsgHandleProc(STDIN_FILENO, STDOUT_FILENO, g_pobjCryptoAgent);
    if (code != 0) TL_HOST_TRACE_FAILED(code, "wmain", "MsgHandleProc", "nRet != 0");
  }
  g_pobjCryptoAgent = nullptr;
  return code;
}

}  // namespace

int wmain(int argc, char16_t** argv) {
  RegisterTraceProvider();
  const int code = Serve(argc, argv);
  UnregisterTraceProvider();
  return code;
}

}  // namespace tessaline

int main(int argc, char** argv) {
  tessaline::GuardStandardDescriptors();
  // The command line arrives as UTF-8; the program works on UTF-16.
  std::vector<std::u16string> arguments(static_cast<size_t>(argc));
  std::vector<char16_t*> pointers;
  for (int i = 0; i < argc; ++i) {
    size_t count = 0;
    if (FAILED(tessaline::UTF8ToUTF16(argv[i], &arguments[i], &count))) arguments[i].clear();
    pointers.push_back(arguments[i].data());
  }
  pointers.push_back(nullptr);
  return tessaline::wmain(argc, pointers.data());
}
