// The DER/BER tree parser: fixed vectors, limits, malformed input, and real
// openssl output compared element by element with openssl asn1parse.
#include <gtest/gtest.h>

#include <string>

#include "Tessaline/ASN1Engine.h"
#include "tests/asn1/OpensslAsn1Parse.h"
#include "tests/support/TestTools.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

struct Shape {
  uint8_t tag;
  uint32_t length_octets;
  uint64_t value_offset;
  uint32_t value_length;
  uint32_t total_length;
};

void ExpectShape(const ASN1Node& node, const Shape& shape) {
  EXPECT_EQ(node.tag, shape.tag);
  EXPECT_EQ(node.length_octets, shape.length_octets);
  EXPECT_EQ(node.value_offset, shape.value_offset);
  EXPECT_EQ(node.value_length, shape.value_length);
  EXPECT_EQ(node.total_length, shape.total_length);
  EXPECT_EQ(node.indefinite, 0);
}

HRESULT Decode(const Bytes& input, std::unique_ptr<ASN1Node>* root) {
  return DecodeASN1Memory(root, input.data(), input.size());
}

TEST(DecodeASN1Memory, LocatesDefiniteElements) {
  const Bytes input{0x30, 0x06, 0x02, 0x01, 0x05, 0x04, 0x01, 0xFF};
  std::unique_ptr<ASN1Node> root;
  ASSERT_EQ(Decode(input, &root), S_OK);
  ExpectShape(*root, {0x30, 1, 2, 6, 8});
  EXPECT_EQ(root->input, input.data());
  EXPECT_EQ(root->input_size, 8u);
  EXPECT_EQ(root->parent, nullptr);
  ASSERT_EQ(root->children.size(), 2u);
  ExpectShape(*root->children[0], {0x02, 1, 4, 1, 3});
  ExpectShape(*root->children[1], {0x04, 1, 7, 1, 3});
  EXPECT_EQ(root->children[1]->parent, root.get());
  EXPECT_EQ(root->children[1]->value()[0], 0xFF);
}

TEST(DecodeASN1Memory, ResolvesIndefiniteLengths) {
  struct Case {
    Bytes input;
    Shape root;
    size_t children;
  } cases[] = {
      {{0x30, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00}, {0x30, 1, 2, 5, 7}, 1},
      // An empty indefinite value ends at its end-of-contents pair.
      {{0x30, 0x80, 0x00, 0x00}, {0x30, 1, 2, 2, 4}, 0},
      // Nested: the inner pair ends the inner element only.
      {{0x30, 0x80, 0x31, 0x80, 0x02, 0x01, 0x05, 0x00, 0x00, 0x00, 0x00}, {0x30, 1, 2, 9, 11}, 1},
      // A primitive element is resolved by scanning for the first pair.
      {{0x30, 0x08, 0x04, 0x80, 0x41, 0x42, 0x00, 0x00, 0x05, 0x00}, {0x30, 1, 2, 8, 10}, 2},
  };
  for (const auto& c : cases) {
    std::unique_ptr<ASN1Node> root;
    ASSERT_EQ(Decode(c.input, &root), S_OK);
    ExpectShape(*root, c.root);
    EXPECT_EQ(root->children.size(), c.children);
  }
  std::unique_ptr<ASN1Node> root;
  ASSERT_EQ(Decode({0x30, 0x08, 0x04, 0x80, 0x41, 0x42, 0x00, 0x00, 0x05, 0x00}, &root), S_OK);
  ExpectShape(*root->children[0], {0x04, 1, 4, 4, 6});
}

TEST(DecodeASN1Memory, LooksIntoConstructedTagsOnly) {
  struct Case {
    uint8_t tag;
    size_t children;
  } cases[] = {{0xA0, 1}, {0x80, 0}, {0x04, 0}, {0x8F, 0}, {0x1F, 0}, {0x31, 1}, {0x24, 1}, {0x61, 1}};
  for (const auto& c : cases) {
    const Bytes input{c.tag, 0x03, 0x02, 0x01, 0x05};
    std::unique_ptr<ASN1Node> root;
    ASSERT_EQ(Decode(input, &root), S_OK) << int{c.tag};
    EXPECT_EQ(root->children.size(), c.children) << int{c.tag};
  }
}

Bytes SequenceOfIntegers(size_t count) {
  Bytes body;
  for (size_t i = 0; i < count; ++i) body.insert(body.end(), {0x02, 0x01, static_cast<uint8_t>(i)});
  Bytes input{0x30, 0x82, static_cast<uint8_t>(body.size() >> 8), static_cast<uint8_t>(body.size())};
  input.insert(input.end(), body.begin(), body.end());
  return input;
}

TEST(DecodeASN1Memory, StopsAt255Nodes) {
  std::unique_ptr<ASN1Node> root;
  ASSERT_EQ(Decode(SequenceOfIntegers(254), &root), S_OK);
  EXPECT_EQ(root->children.size(), 254u);

  for (size_t count : {255, 300}) {
    std::unique_ptr<ASN1Node> partial;
    EXPECT_EQ(Decode(SequenceOfIntegers(count), &partial), kASN1ParseFailed);
    ASSERT_NE(partial, nullptr);  // the caller holds what was built
    EXPECT_EQ(partial->children.size(), 254u);  // the 256th node failed
  }
}

TEST(DecodeASN1Memory, FailsBelowTheOutermostHeader) {
  const Bytes cases[] = {
      {0x02, 0x05, 0x01},                               // INTEGER longer than the buffer
      {0x30, 0x03, 0x02, 0x05, 0x01},                   // child longer than the buffer
      {0x30, 0x03, 0x02, 0x02, 0x01, 0x05},             // child overruns its parent, not the buffer
      {0x30, 0x04, 0x02, 0x01, 0x05, 0x00},             // trailing byte cannot start a child
      {0x30, 0x80, 0x02, 0x01, 0x05},                   // no end-of-contents
      {0x30, 0x80, 0x02, 0x01, 0x05, 0x00},             // half an end-of-contents
      {0x04, 0x80, 0x41, 0x00, 0x41},                   // primitive indefinite without a pair
      {0x30, 0x07, 0x02, 0x85, 0x01, 0x00, 0x00, 0x00, 0x01},  // five length octets
      {0x30, 0x04, 0x02, 0x84, 0xFF, 0xFF},             // length octets beyond the buffer
      {0x30, 0x06, 0x02, 0x84, 0xFF, 0xFF, 0xFF, 0xFF},  // 4 GiB value
  };
  for (const auto& input : cases) {
    std::unique_ptr<ASN1Node> root;
    EXPECT_EQ(Decode(input, &root), kASN1ParseFailed) << ::testing::PrintToString(input);
    EXPECT_NE(root, nullptr);
  }
}

TEST(DecodeASN1Memory, RejectsAnUnreadableOutermostHeader) {
  const Bytes cases[] = {{}, {0x05}, {0x05, 0x00}, {0x30, 0x82, 0x01}, {0x30, 0x85, 0, 0, 0, 0, 1}};
  for (const auto& input : cases) {
    std::unique_ptr<ASN1Node> root;
    const HRESULT hr = DecodeASN1Memory(&root, input.empty() ? reinterpret_cast<const uint8_t*>("") : input.data(),
                                        input.size());
    EXPECT_TRUE(FAILED(hr));
    EXPECT_NE(hr, kASN1ParseFailed);
    EXPECT_EQ(root, nullptr);
  }
}

// One element as openssl asn1parse lists it: offset, depth, header length,
// length ("inf" when indefinite).
struct Element {
  uint64_t offset;
  int depth;
  uint32_t header;
  std::string length;
  bool operator==(const Element&) const = default;
};

std::vector<Element> OpensslElements(const Bytes& der) {
  std::vector<Element> elements;
  for (const auto& line : test::OpensslAsn1Parse(der)) {
    if (line.type != "EOC") elements.push_back({line.offset, line.depth, line.header, line.length});
  }
  return elements;
}

void Flatten(const ASN1Node& node, int depth, std::vector<Element>* out) {
  const bool indefinite = node.input[node.offset() + 1] == 0x80;
  out->push_back({node.offset(), depth, 1 + node.length_octets,
                  indefinite ? "inf" : std::to_string(node.value_length)});
  for (const auto& child : node.children) Flatten(*child, depth + 1, out);
}

class OpensslOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto made = test::RunCommand(
        "openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -subj '/CN=Parser Test/O=Tessaline/C=CN' "
        "-days 30 -outform DER -out cert.der && "
        "printf 'payload' > data.txt && "
        "openssl x509 -inform DER -in cert.der -out cert.pem && "
        "openssl cms -sign -nocerts -noattr -stream -binary -in data.txt -signer cert.pem -inkey key.pem "
        "-outform DER -out signed.der",
        dir_.path());
    ASSERT_EQ(made.exit_code, 0) << made.output;
  }
  test::TempDir dir_;
};

TEST_F(OpensslOutput, CertificateTreeMatchesOpensslAsn1parse) {
  const Bytes der = test::ReadFileBytes(dir_.File("cert.der"));
  std::unique_ptr<ASN1Node> root;
  ASSERT_EQ(DecodeASN1Memory(&root, der.data(), der.size()), S_OK);
  EXPECT_EQ(root->total_length, der.size());
  std::vector<Element> ours;
  Flatten(*root, 0, &ours);
  EXPECT_EQ(ours, OpensslElements(der));
}

TEST_F(OpensslOutput, IndefiniteLengthCmsMatchesOpensslAsn1parse) {
  const Bytes ber = test::ReadFileBytes(dir_.File("signed.der"));
  ASSERT_GT(ber.size(), 2u);
  ASSERT_EQ(ber[1], 0x80);  // streamed: indefinite lengths
  std::unique_ptr<ASN1Node> root;
  ASSERT_EQ(DecodeASN1Memory(&root, ber.data(), ber.size()), S_OK);
  EXPECT_EQ(root->total_length, ber.size());
  std::vector<Element> ours;
  Flatten(*root, 0, &ours);
  EXPECT_EQ(ours, OpensslElements(ber));
}

}  // namespace
}  // namespace tessaline
