// Base64 against fixed vectors and against the openssl command line.
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include <string>

#include "Tessaline/Misc.h"
#include "tests/support/TestTools.h"

namespace tessaline {
namespace {

using Bytes = std::vector<uint8_t>;

std::string Encode(const Bytes& bytes) {
  std::string text;
  size_t chars = 0;
  EXPECT_EQ(Base64EncodeEx(bytes.size(), &text, bytes.data(), &chars), S_OK);
  EXPECT_EQ(chars, text.size());
  return text;
}

Bytes Decode(const std::string& text) {
  Bytes bytes;
  size_t count = 0;
  EXPECT_EQ(Base64DecodeEx(static_cast<int64_t>(text.size()), &bytes, text.data(), &count), S_OK);
  EXPECT_EQ(count, bytes.size());
  return bytes;
}

std::string WithoutLineBreaks(std::string text) {
  std::erase(text, '\r');
  std::erase(text, '\n');
  return text;
}

TEST(Base64, EncodesVectors) {
  struct Case {
    Bytes bytes;
    std::string text;
  } cases[] = {
      {{0x61, 0x62, 0x63}, "YWJj"},
      {{0x00}, "AA=="},
      {{0x61, 0x62}, "YWI="},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Encode(c.bytes), c.text);
}

TEST(Base64, Breaks76CharacterLines) {
  // 19 full groups fill a line; the line break of a last line without groups
  // stays in front of the padding group, and also at the very end.
  EXPECT_EQ(Encode(Bytes(57, 0)), std::string(76, 'A') + "\r\n");
  EXPECT_EQ(Encode(Bytes(58, 0)), std::string(76, 'A') + "\r\nAA==");
  EXPECT_EQ(Encode(Bytes(60, 0)), std::string(76, 'A') + "\r\nAAAA");
  EXPECT_EQ(Encode(Bytes(56, 0)), std::string(72, 'A') + "AAA=");
}

TEST(Base64, DecodesVectorsSkippingForeignCharacters) {
  struct Case {
    std::string text;
    Bytes bytes;
  } cases[] = {
      {"YWJj", {0x61, 0x62, 0x63}},
      {"YW\r\nJj", {0x61, 0x62, 0x63}},
      {"Y W J j", {0x61, 0x62, 0x63}},
      {"YQ==", {0x61}},
      {"YWI=", {0x61, 0x62}},
      {"YWJjZ", {0x61, 0x62, 0x63}},  // one character alone carries no whole byte
      {"====", {}},
      {std::string("YWJj\0ZGVm", 9), {0x61, 0x62, 0x63}},  // NUL at a group start ends the text
      {std::string("YW\0Jj", 5), {0x61, 0x62, 0x63}},       // inside a group it is skipped
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.text), c.bytes) << c.text;
}

TEST(Base64, DecodesOnlyTheGivenCount) {
  Bytes bytes;
  size_t count = 0;
  ASSERT_EQ(Base64DecodeEx(4, &bytes, "YWJjZGVm", &count), S_OK);
  EXPECT_EQ(bytes, (Bytes{0x61, 0x62, 0x63}));
}

TEST(Base64, RejectsEmptyOrNegativeCounts) {
  Bytes bytes{7};
  size_t count = 3;
  EXPECT_EQ(Base64DecodeEx(0, &bytes, "YWJj", &count), E_FAIL);
  EXPECT_EQ(Base64DecodeEx(-4, &bytes, "YWJj", &count), E_FAIL);
  EXPECT_EQ(Base64DecodeEx(4, &bytes, nullptr, &count), E_POINTER);
  EXPECT_EQ(bytes, Bytes{7});
  EXPECT_EQ(count, 3u);
}

TEST(Base64, MatchesOpensslOnRandomInputs) {
  test::TempDir dir;
  for (size_t size : {1, 2, 3, 4, 56, 57, 58, 113, 114, 171, 1000, 4099}) {
    Bytes bytes(size);
    ASSERT_EQ(RAND_bytes(bytes.data(), static_cast<int>(size)), 1);
    const std::string file = dir.File("in.bin");
    test::WriteFileBytes(file, bytes);
    const auto expected = test::RunCommand("openssl base64 -A -in in.bin", dir.path());
    ASSERT_EQ(expected.exit_code, 0) << expected.output;

    const std::string ours = Encode(bytes);
    EXPECT_EQ(WithoutLineBreaks(ours), WithoutLineBreaks(expected.output)) << size;
    EXPECT_EQ(Decode(ours), bytes) << size;

    // openssl reads our line-broken text back to the same bytes.
    test::WriteFileText(dir.File("ours.b64"), ours + "\n");
    const auto back = test::RunCommand("openssl base64 -d -in ours.b64 -out back.bin", dir.path());
    ASSERT_EQ(back.exit_code, 0) << back.output;
    EXPECT_EQ(test::ReadFileBytes(dir.File("back.bin")), bytes) << size;
  }
}

}  // namespace
}  // namespace tessaline
