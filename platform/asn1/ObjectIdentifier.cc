#include "platform/asn1/ObjectIdentifier.h"

#include <limits>

namespace tessaline {
namespace {

// Reads one arc at *POS, stopping after its digits.
bool ReadArc(std::string_view text, size_t* pos, uint64_t* arc) {
  const size_t start = *pos;
  uint64_t value = 0;
  while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
    const uint64_t digit = static_cast<uint64_t>(text[*pos] - '0');
    if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return false;
    value = value * 10 + digit;
    ++*pos;
  }
  const size_t digits = *pos - start;
  if (digits == 0 || (digits > 1 && text[start] == '0')) return false;
  *arc = value;
  return true;
}

// Base 128, most significant group first, bit 8 set on all but the last.
void AppendBase128(uint64_t value, std::vector<uint8_t>* out) {
  uint8_t groups[10];
  int n = 0;
  do {
    groups[n++] = static_cast<uint8_t>(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  while (n > 0) {
    --n;
    out->push_back(static_cast<uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
  }
}

}  // namespace

bool EncodeObjectIdentifier(std::string_view dotted, std::vector<uint8_t>* content) {
  std::vector<uint8_t> out;
  size_t pos = 0;
  uint64_t first = 0, second = 0;
  if (!ReadArc(dotted, &pos, &first) || first > 2) return false;
  if (pos >= dotted.size() || dotted[pos++] != '.') return false;
  if (!ReadArc(dotted, &pos, &second)) return false;
  if (first < 2 && second >= 40) return false;
  if (second > std::numeric_limits<uint64_t>::max() - 80) return false;
  // The first two arcs share one subidentifier: 40 x first + second.
  AppendBase128(first * 40 + second, &out);
  while (pos < dotted.size()) {
    uint64_t arc = 0;
    if (dotted[pos++] != '.' || !ReadArc(dotted, &pos, &arc)) return false;
    AppendBase128(arc, &out);
  }
  *content = std::move(out);
  return true;
}

}  // namespace tessaline
