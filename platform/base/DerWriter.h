// Builds DER into one growing buffer: open an element, write its contents
// (bytes or nested elements), close it, and the length octets are filled in
// with the minimal form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tessaline {

class DerWriter {
 public:
  // Starts an element with TAG; returns a mark for Close.
  size_t Open(uint8_t tag);
  void Close(size_t mark);

  void AddBytes(std::span<const uint8_t> bytes);
  void AddByte(uint8_t b) { out_.push_back(b); }
  // A whole primitive element.
  void AddElement(uint8_t tag, std::span<const uint8_t> contents);
  // An INTEGER from big-endian magnitude bytes (leading zeros dropped, a zero
  // byte added when the top bit is set).
  void AddUnsignedInteger(std::span<const uint8_t> big_endian);

  std::vector<uint8_t> Finish() { return std::move(out_); }
  const std::vector<uint8_t>& bytes() const { return out_; }

  // The length octets of LENGTH in minimal DER form.
  static std::vector<uint8_t> LengthOctets(size_t length);

 private:
  std::vector<uint8_t> out_;
};

}  // namespace tessaline
