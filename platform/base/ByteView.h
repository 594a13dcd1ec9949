// A bounds-checked cursor over borrowed bytes, for every parser of the
// platform layer. Each read checks the remaining length first and advances
// only on success; children of a DER element are sub-views of the input, so
// nothing is copied until a caller stores it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tessaline {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ByteView(std::span<const uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::span<const uint8_t> span() const { return {data_, size_}; }

  [[nodiscard]] bool Skip(size_t n);
  [[nodiscard]] bool ReadU8(uint8_t* out);
  [[nodiscard]] bool ReadU16LE(uint16_t* out);
  [[nodiscard]] bool ReadU32LE(uint32_t* out);
  [[nodiscard]] bool ReadU64LE(uint64_t* out);
  // Splits off the next N bytes as OUT.
  [[nodiscard]] bool ReadBytes(size_t n, ByteView* out);

  // DER (definite lengths only, single-byte tags). ReadAnyDer hands back the
  // element's tag and its contents; ReadDer also requires TAG. With HEADER
  // set, *element covers the whole element (tag and length octets too).
  [[nodiscard]] bool ReadAnyDer(uint8_t* tag, ByteView* contents, ByteView* element = nullptr);
  [[nodiscard]] bool ReadDer(uint8_t tag, ByteView* contents, ByteView* element = nullptr);
  // Reads an element only if the next tag is TAG; *present tells which.
  [[nodiscard]] bool ReadOptionalDer(uint8_t tag, ByteView* contents, bool* present);
  bool PeekTag(uint8_t* tag) const;

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace tessaline
