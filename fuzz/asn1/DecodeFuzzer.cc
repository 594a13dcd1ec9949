// DecodeASN1Memory on arbitrary bytes. Beyond not crashing: every node's
// value lies inside the input, lengths add up, the children of a finished
// node tile its value exactly (up to the end-of-contents pair of an
// indefinite one), and no decode makes more than 255 nodes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Tessaline/ASN1Engine.h"

namespace {

using tessaline::ASN1Node;

void Check(bool condition) {
  if (!condition) std::abort();
}

// Returns the number of nodes of the subtree.
size_t CheckNode(const ASN1Node& node, const uint8_t* input, size_t size, bool complete) {
  Check(node.input == input && node.input_size == size);
  size_t nodes = 1;
  for (const auto& child : node.children) {
    Check(child->parent == &node);
    nodes += CheckNode(*child, input, size, true);
  }
  const uint64_t offset = node.offset();
  Check(input[offset] == node.tag);
  Check(node.value_offset == offset + 1 + node.length_octets);
  // A node still open when the decode failed has no checked lengths yet.
  if (!complete) return nodes;
  Check(!node.indefinite);
  Check(node.value_offset + node.value_length <= size);
  Check(uint64_t{node.total_length} == 1ull + node.length_octets + node.value_length);

  const bool leaf = node.tag <= 0x1F || (node.tag >= 0x80 && node.tag <= 0x8F);
  if (leaf) {
    Check(node.children.empty());
    return nodes;
  }
  uint64_t end = node.value_offset + node.value_length;
  if (input[offset + 1] == 0x80) {  // was indefinite: the value ends with 00 00
    Check(node.value_length >= 2 && input[end - 1] == 0 && input[end - 2] == 0);
    end -= 2;
  }
  uint64_t next = node.value_offset;
  for (const auto& child : node.children) {
    Check(child->offset() == next);
    next += child->total_length;
  }
  Check(next == end);
  return nodes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint8_t kEmpty = 0;
  const uint8_t* input = data != nullptr ? data : &kEmpty;
  std::unique_ptr<ASN1Node> root;
  const HRESULT hr = tessaline::DecodeASN1Memory(&root, input, size);
  if (root == nullptr) {
    Check(FAILED(hr));
    return 0;
  }
  Check(SUCCEEDED(hr) || hr == tessaline::kASN1ParseFailed);
  Check(root->parent == nullptr);
  const size_t nodes = CheckNode(*root, input, size, SUCCEEDED(hr));
  Check(nodes <= tessaline::kMaxASN1Nodes);
  return 0;
}
