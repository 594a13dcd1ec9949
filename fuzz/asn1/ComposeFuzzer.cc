// The builders on arbitrary input. The first byte chooses:
//  even: the rest is a value element for ComposeSpecialAttribute; on success
//        the result is SEQUENCE { the OBJECT IDENTIFIER, the value element
//        with its tag and content unchanged };
//  odd:  the rest is UTF-16 subject text for ComposeSubject; on success the
//        Name holds one RDN per comma-separated pair, each SET { SEQUENCE {
//        OBJECT IDENTIFIER, string } }.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Tessaline/ASN1Composer.h"
#include "Tessaline/ASN1Engine.h"
#include "Tessaline/SubjectName.h"
#include "platform/base/ByteView.h"

namespace {

using tessaline::ASN1Node;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<uint8_t> Bytes(const ASN1Node& node) {
  const uint8_t* start = node.input + node.offset();
  return {start, start + node.total_length};
}

void CheckAttribute(const uint8_t* data, size_t size) {
  static const uint8_t kOid[] = {0x06, 0x03, 0x55, 0x04, 0x03};
  std::vector<uint8_t> element;
  size_t length = 0;
  if (FAILED(tessaline::ComposeSpecialAttribute("2.5.4.3", data, size, &element, &length))) return;
  Check(length == element.size());
  std::unique_ptr<ASN1Node> root;
  Check(tessaline::DecodeASN1Memory(&root, element.data(), element.size()) == S_OK);
  Check(root->tag == 0x30 && root->total_length == element.size() && root->children.size() == 2);
  Check(Bytes(*root->children[0]) == std::vector<uint8_t>(kOid, kOid + sizeof kOid));
  // The value keeps its tag and content; its length octets come out minimal.
  tessaline::ByteView view(data, size);
  uint8_t tag = 0;
  tessaline::ByteView content;
  Check(view.ReadAnyDer(&tag, &content) && view.empty());
  const ASN1Node& value = *root->children[1];
  Check(value.tag == tag && value.value_length == content.size());
  Check(std::vector<uint8_t>(value.value(), value.value() + value.value_length) ==
        std::vector<uint8_t>(content.data(), content.data() + content.size()));
}

void CheckSubject(const uint8_t* data, size_t size) {
  std::u16string subject;
  for (size_t i = 0; i + 1 < size; i += 2) subject.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  std::vector<uint8_t> name;
  if (FAILED(tessaline::ComposeSubject(subject, &name, nullptr))) return;
  size_t pairs = 1;
  for (char16_t c : subject) pairs += c == u',';
  std::unique_ptr<ASN1Node> root;
  const HRESULT hr = tessaline::DecodeASN1Memory(&root, name.data(), name.size());
  // A long subject may hold more elements than one decode reads.
  if (4 * pairs + 1 > tessaline::kMaxASN1Nodes) return;
  Check(hr == S_OK && root->tag == 0x30 && root->total_length == name.size());
  Check(root->children.size() == pairs);
  for (const auto& rdn : root->children) {
    Check(rdn->tag == 0x31 && rdn->children.size() == 1);
    const ASN1Node& pair = *rdn->children[0];
    Check(pair.tag == 0x30 && pair.children.size() == 2 && pair.children[0]->tag == 0x06);
    const uint8_t type = pair.children[1]->tag;
    Check(type == 0x0C || type == 0x13 || type == 0x16);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    CheckAttribute(data + 1, size - 1);
  } else {
    CheckSubject(data + 1, size - 1);
  }
  return 0;
}
