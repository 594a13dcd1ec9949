#include "platform/base/DerWriter.h"

namespace tessaline {

std::vector<uint8_t> DerWriter::LengthOctets(size_t length) {
  if (length < 0x80) return {static_cast<uint8_t>(length)};
  std::vector<uint8_t> octets;
  for (size_t v = length; v != 0; v >>= 8) octets.insert(octets.begin(), static_cast<uint8_t>(v & 0xFF));
  octets.insert(octets.begin(), static_cast<uint8_t>(0x80 | octets.size()));
  return octets;
}

size_t DerWriter::Open(uint8_t tag) {
  out_.push_back(tag);
  out_.push_back(0);  // placeholder for a short-form length
  return out_.size();
}

void DerWriter::Close(size_t mark) {
  const size_t length = out_.size() - mark;
  const std::vector<uint8_t> octets = LengthOctets(length);
  out_[mark - 1] = octets[0];
  out_.insert(out_.begin() + static_cast<std::ptrdiff_t>(mark), octets.begin() + 1, octets.end());
}

void DerWriter::AddBytes(std::span<const uint8_t> bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }

void DerWriter::AddElement(uint8_t tag, std::span<const uint8_t> contents) {
  const size_t mark = Open(tag);
  AddBytes(contents);
  Close(mark);
}

void DerWriter::AddUnsignedInteger(std::span<const uint8_t> big_endian) {
  size_t skip = 0;
  while (skip + 1 < big_endian.size() && big_endian[skip] == 0) ++skip;
  const size_t mark = Open(0x02);
  if (big_endian.empty()) {
    AddByte(0);
  } else {
    if (big_endian[skip] & 0x80) AddByte(0);
    AddBytes(big_endian.subspan(skip));
  }
  Close(mark);
}

}  // namespace tessaline
