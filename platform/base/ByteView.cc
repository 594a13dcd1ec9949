#include "platform/base/ByteView.h"

namespace tessaline {

bool ByteView::Skip(size_t n) {
  if (n > size_) return false;
  data_ += n;
  size_ -= n;
  return true;
}

bool ByteView::ReadU8(uint8_t* out) {
  if (size_ < 1) return false;
  *out = data_[0];
  return Skip(1);
}

bool ByteView::ReadU16LE(uint16_t* out) {
  if (size_ < 2) return false;
  *out = static_cast<uint16_t>(data_[0] | (data_[1] << 8));
  return Skip(2);
}

bool ByteView::ReadU32LE(uint32_t* out) {
  if (size_ < 4) return false;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | data_[i];
  *out = v;
  return Skip(4);
}

bool ByteView::ReadU64LE(uint64_t* out) {
  if (size_ < 8) return false;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | data_[i];
  *out = v;
  return Skip(8);
}

bool ByteView::ReadBytes(size_t n, ByteView* out) {
  if (n > size_) return false;
  *out = ByteView(data_, n);
  return Skip(n);
}

bool ByteView::PeekTag(uint8_t* tag) const {
  if (size_ < 1) return false;
  *tag = data_[0];
  return true;
}

bool ByteView::ReadAnyDer(uint8_t* tag, ByteView* contents, ByteView* element) {
  ByteView copy = *this;
  uint8_t t, first;
  if (!copy.ReadU8(&t) || (t & 0x1F) == 0x1F || !copy.ReadU8(&first)) return false;
  size_t length = first;
  if (first & 0x80) {
    const size_t count = first & 0x7F;
    // Definite long form, at most 4 length octets.
    if (count == 0 || count > 4) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) {
      uint8_t b;
      if (!copy.ReadU8(&b)) return false;
      length = (length << 8) | b;
    }
  }
  const size_t header = static_cast<size_t>(copy.data_ - data_);
  ByteView body;
  if (!copy.ReadBytes(length, &body)) return false;
  if (element != nullptr) *element = ByteView(data_, header + length);
  *tag = t;
  *contents = body;
  *this = copy;
  return true;
}

bool ByteView::ReadDer(uint8_t tag, ByteView* contents, ByteView* element) {
  uint8_t actual;
  if (!PeekTag(&actual) || actual != tag) return false;
  return ReadAnyDer(&actual, contents, element);
}

bool ByteView::ReadOptionalDer(uint8_t tag, ByteView* contents, bool* present) {
  uint8_t actual;
  *present = PeekTag(&actual) && actual == tag;
  if (!*present) return true;
  return ReadAnyDer(&actual, contents);
}

}  // namespace tessaline
