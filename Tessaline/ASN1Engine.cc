#include "Tessaline/ASN1Engine.h"

#include <new>

#include "Tessaline/Trace.h"

namespace tessaline {
namespace {

// Primitive by the parser's rule: universal tags and context tags [0]..[15]
// without the constructed bit. Everything else is looked into.
bool IsLeafTag(uint8_t tag) { return tag <= 0x1F || (tag >= 0x80 && tag <= 0x8F); }

// The end of a definite value, which every caller has checked to fit.
uint64_t ValueEnd(const ASN1Node* node) { return node->value_offset + node->value_length; }

HRESULT Fail(const ASN1Node* node, const char* why) {
  TL_TRACE_ERROR("ASN1 parse failed at offset %llu (tag 0x%02X): %s",
                 static_cast<unsigned long long>(node->value_offset), node->tag, why);
  return kASN1ParseFailed;
}

// Marks NODE's indefinite length as resolved to VALUE_LENGTH bytes.
void Resolve(ASN1Node* node, uint64_t value_length) {
  node->value_length = static_cast<uint32_t>(value_length);
  node->total_length = static_cast<uint32_t>(1 + node->length_octets + value_length);
  node->indefinite = 0;
}

HRESULT ParseChild(ASN1Node* node, uint64_t offset, uint64_t limit, uint32_t* counter,
                   std::unique_ptr<ASN1Node>* child) {
  auto next = std::make_unique<ASN1Node>();
  next->input = node->input;
  next->input_size = node->input_size;
  next->parent = node;
  RETURN_IF_FAILED(ParseASN1TLV(next.get(), offset, limit));
  PrintNode(next.get());
  RETURN_IF_FAILED(ParseNode(next.get(), counter));
  *child = std::move(next);
  return S_OK;
}

// Children of a definite value: they must tile it exactly, none may reach
// past its end.
HRESULT ParseDefiniteChildren(ASN1Node* node, uint32_t* counter) {
  const uint64_t end = ValueEnd(node);
  uint64_t consumed = 0;
  while (consumed < node->value_length) {
    std::unique_ptr<ASN1Node> child;
    RETURN_IF_FAILED(ParseChild(node, node->value_offset + consumed, end, counter, &child));
    if (child->total_length > node->value_length - consumed) return Fail(node, "child overruns its parent");
    consumed += child->total_length;
    node->children.push_back(std::move(child));
  }
  return S_OK;
}

// Children of an indefinite value, up to the end-of-contents pair 00 00.
// The pair is looked for before every child, so an empty value ends at once
// rather than being read as a child of tag 0.
HRESULT ParseIndefiniteChildren(ASN1Node* node, uint32_t* counter) {
  const uint8_t* in = node->input;
  uint64_t consumed = 0;
  while (true) {
    const uint64_t at = node->value_offset + consumed;
    if (at + 2 > node->input_size) return Fail(node, "end-of-contents missing");
    if (in[at] == 0 && in[at + 1] == 0) {
      Resolve(node, consumed + 2);
      PrintNode(node);
      return S_OK;
    }
    std::unique_ptr<ASN1Node> child;
    RETURN_IF_FAILED(ParseChild(node, at, node->input_size, counter, &child));
    consumed += child->total_length;
    node->children.push_back(std::move(child));
  }
}

}  // namespace

HRESULT GetASN1ValueLength(ASN1Node* node, uint64_t offset) {
  if (offset >= node->input_size) return Fail(node, "length octets outside the input");
  const uint8_t first = node->input[offset];
  node->indefinite = 0;
  if (first < 0x80) {
    node->length_octets = 1;
    node->value_length = first;
    return S_OK;
  }
  if (first == 0x80) {
    node->length_octets = 1;
    node->value_length = kUnresolvedLength;
    node->indefinite = 1;
    return S_OK;
  }
  const uint32_t k = first - 0x80u;
  // More than four octets cannot be held in the 32-bit value length.
  if (k > 4) return Fail(node, "length of more than four octets");
  if (offset + k >= node->input_size) return Fail(node, "length octets outside the input");
  uint32_t length = 0;
  for (uint32_t i = 1; i <= k; ++i) length = (length << 8) | node->input[offset + i];
  node->length_octets = 1 + k;
  node->value_length = length;
  return S_OK;
}

HRESULT ParseASN1TLV(ASN1Node* node, uint64_t offset, uint64_t limit) {
  if (limit > node->input_size) limit = node->input_size;
  if (offset >= limit || offset + 1 >= limit) return Fail(node, "header outside the allowed range");
  node->tag = node->input[offset];
  RETURN_IF_FAILED(GetASN1ValueLength(node, offset + 1));
  node->value_offset = offset + 1 + node->length_octets;
  if (node->indefinite) {
    node->total_length = kUnresolvedLength;
  } else {
    // Saturates for a length that cannot fit; ParseNode rejects such a node.
    const uint64_t total = 1ull + node->length_octets + node->value_length;
    node->total_length = total > kUnresolvedLength ? kUnresolvedLength : static_cast<uint32_t>(total);
  }
  return S_OK;
}

HRESULT GetInfiniteLength(ASN1Node* node) {
  const uint8_t* in = node->input;
  for (uint64_t i = node->value_offset; i + 1 < node->input_size; ++i) {
    if (in[i] == 0 && in[i + 1] == 0) {
      Resolve(node, i + 2 - node->value_offset);
      return S_OK;
    }
  }
  return Fail(node, "end-of-contents missing");
}

HRESULT ParseNode(ASN1Node* node, uint32_t* counter) {
  if (++*counter > kMaxASN1Nodes) return Fail(node, "too many elements");
  if (!node->indefinite && ValueEnd(node) > node->input_size) return Fail(node, "value beyond the input");
  if (IsLeafTag(node->tag)) {
    if (node->indefinite) RETURN_IF_FAILED(GetInfiniteLength(node));
    return S_OK;
  }
  try {
    return node->indefinite ? ParseIndefiniteChildren(node, counter) : ParseDefiniteChildren(node, counter);
  } catch (const std::bad_alloc&) {
    return Fail(node, "out of memory");
  }
}

HRESULT DecodeASN1Memory(std::unique_ptr<ASN1Node>* root, const uint8_t* input, size_t size) {
  TL_TRACE_SCOPE("DecodeASN1Memory");
  if (root == nullptr || input == nullptr) return E_POINTER;
  // Sizes must leave room for the "unresolved" marker of 32-bit lengths.
  if (size >= kUnresolvedLength) return E_INVALIDARG;
  ASN1Node header;
  header.input = input;
  header.input_size = static_cast<uint32_t>(size);
  // The outermost header must end before the last byte of the input.
  if (size == 0 || FAILED(ParseASN1TLV(&header, 0, size - 1))) {
    TL_TRACE_STEP(CRYPT_E_ASN1_EOD, "DecodeASN1Memory", "ParseASN1TLV");
    return CRYPT_E_ASN1_EOD;
  }
  std::unique_ptr<ASN1Node> node;
  try {
    node = std::make_unique<ASN1Node>(std::move(header));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  ASN1Node* top = node.get();
  *root = std::move(node);
  PrintNode(top);
  uint32_t counter = 0;
  const HRESULT hr = ParseNode(top, &counter);
  TL_TRACE_STEP(hr, "DecodeASN1Memory", "ParseNode");
  return hr;
}

void PrintNode(const ASN1Node* node) {
  if (node == nullptr) return;
  TL_TRACE_INFO("ASN1 node: tag 0x%02X, offset %llu, length octets %u, value offset %llu, value length %u, "
                "total %u, indefinite %u, children %zu",
                node->tag, static_cast<unsigned long long>(node->offset()), node->length_octets,
                static_cast<unsigned long long>(node->value_offset), node->value_length, node->total_length,
                node->indefinite, node->children.size());
}

}  // namespace tessaline
