// Runs `openssl asn1parse` over DER and hands back its lines as records, so
// that tests can compare our encoder and parser with openssl's reading.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TestTools.h"

namespace tessaline::test {

struct Asn1ParseLine {
  uint64_t offset = 0;
  int depth = 0;
  uint32_t header = 0;
  std::string length;  // a number, or "inf" for an indefinite length
  bool constructed = false;
  std::string type;    // SEQUENCE, OBJECT, UTF8STRING, EOC, ...
  std::string value;   // what follows the ':' after the type, if anything
};

inline std::vector<Asn1ParseLine> OpensslAsn1Parse(const std::vector<uint8_t>& der) {
  TempDir dir;
  WriteFileBytes(dir.File("in.der"), der);
  const CommandResult result = RunCommand("openssl asn1parse -inform DER -in in.der", dir.path());
  std::vector<Asn1ParseLine> lines;
  if (result.exit_code != 0) return lines;
  std::istringstream in(result.output);
  for (std::string text; std::getline(in, text);) {
    Asn1ParseLine line;
    unsigned long long offset = 0;
    char length[16] = {}, kind[8] = {}, type[64] = {};
    int used = 0;
    if (std::sscanf(text.c_str(), " %llu:d=%d hl=%u l=%15s %7s %63s%n", &offset, &line.depth, &line.header, length,
                    kind, type, &used) != 6) {
      continue;
    }
    line.offset = offset;
    line.length = length;
    line.constructed = std::string(kind) == "cons:";
    line.type = type;
    const size_t colon = text.find(':', static_cast<size_t>(used));
    if (colon != std::string::npos) {
      line.value = text.substr(colon + 1);
      while (!line.value.empty() && line.value.back() == ' ') line.value.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

}  // namespace tessaline::test
