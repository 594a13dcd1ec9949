// A tree parser for DER and BER: every element of the input becomes one node
// that locates its value by offset in the caller's buffer. Values are never
// copied; the input must outlive the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/base/Result.h"

namespace tessaline {

// One decode creates at most this many nodes, the root included.
inline constexpr uint32_t kMaxASN1Nodes = 255;

// Value and total length of an element whose indefinite length is not yet
// resolved.
inline constexpr uint32_t kUnresolvedLength = 0xFFFFFFFF;

// The result of any failure below the outermost element's header.
inline constexpr HRESULT kASN1ParseFailed = MakeResult(0xFFFFFFFF);

struct ASN1Node {
  const uint8_t* input = nullptr;  // start of the whole input, borrowed
  uint8_t tag = 0;                 // the identifier byte
  uint32_t length_octets = 0;      // 1 for short and indefinite form, 1 + k for long form
  uint32_t value_length = 0;       // includes the end-of-contents pair once an indefinite length is resolved
  uint64_t value_offset = 0;       // from the start of the input
  uint32_t total_length = 0;       // 1 + length_octets + value_length
  uint16_t indefinite = 0;         // 1 while the indefinite length is unresolved
  uint32_t input_size = 0;
  ASN1Node* parent = nullptr;
  std::vector<std::unique_ptr<ASN1Node>> children;

  // The value bytes: value_length bytes from here.
  const uint8_t* value() const { return input + value_offset; }
  // Offset of the identifier byte.
  uint64_t offset() const { return value_offset - 1 - length_octets; }
};

// Parses INPUT (SIZE bytes) into a tree. On success, and on a failure after
// the root was created, *ROOT holds the root (a partial tree on failure) and
// the caller owns it. A failure below the outermost header gives
// kASN1ParseFailed; when the outermost header itself cannot be read, the
// result is CRYPT_E_ASN1_EOD (E_POINTER for null arguments) and *ROOT is left
// alone.
HRESULT DecodeASN1Memory(std::unique_ptr<ASN1Node>* root, const uint8_t* input, size_t size);

// The steps of the parse, exposed for tests and tracing.

// Reads the header at OFFSET into NODE (tag, length octets, value offset,
// value and total length, indefinite flag). The tag and the first length
// octet must both lie below LIMIT.
HRESULT ParseASN1TLV(ASN1Node* node, uint64_t offset, uint64_t limit);
// Reads the length octets that start at OFFSET into NODE.
HRESULT GetASN1ValueLength(ASN1Node* node, uint64_t offset);
// Parses NODE's value into children; COUNTER counts the nodes of the decode.
HRESULT ParseNode(ASN1Node* node, uint32_t* counter);
// Resolves a primitive element's indefinite length by its end-of-contents pair.
HRESULT GetInfiniteLength(ASN1Node* node);
// Traces NODE's tag, offsets and lengths.
void PrintNode(const ASN1Node* node);

}  // namespace tessaline
