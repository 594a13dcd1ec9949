// The serialized forms a system store reads back from the registry. Beyond
// not crashing: a property blob that parses serializes back to blob that
// parses to the same properties and certificate; a key-provider property that
// parses lays out in the caller's buffer at exactly the size it announces,
// and serializing that layout gives the same fields again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/base/Errors.h"
#include "platform/cert/PropertyRecords.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tessaline::cert;
  const std::span<const uint8_t> input(data, size);

  PropertyMap properties;
  std::vector<uint8_t> certificate;
  if (ParseProperties(input, &properties, &certificate)) {
    const std::vector<uint8_t> again = SerializeProperties(properties, certificate);
    PropertyMap properties2;
    std::vector<uint8_t> certificate2;
    Check(ParseProperties(again, &properties2, &certificate2));
    Check(properties2 == properties && certificate2 == certificate);
  }

  KeyProvInfo info;
  if (ParseKeyProvInfo(input, &info)) {
    DWORD size_needed = 0;
    Check(ExpandKeyProvInfo(info, nullptr, &size_needed) == ERROR_SUCCESS);
    std::vector<uint64_t> buffer((size_needed + 7) / 8);  // aligned as a caller's allocation is
    DWORD small = size_needed - 1;
    Check(ExpandKeyProvInfo(info, buffer.data(), &small) == ERROR_MORE_DATA && small == size_needed);
    DWORD filled = size_needed;
    Check(ExpandKeyProvInfo(info, buffer.data(), &filled) == ERROR_SUCCESS && filled == size_needed);
    const auto* expanded = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    KeyProvInfo round;
    Check(ParseKeyProvInfo(SerializeKeyProvInfo(*expanded), &round));
    Check(round.provider_type == info.provider_type && round.flags == info.flags && round.key_spec == info.key_spec);
    Check(round.params.size() == info.params.size());
    // Strings stop at their first NUL once laid out as C strings.
    Check(round.has_provider == info.has_provider && round.has_container == info.has_container);
  }
  return 0;
}
