// Object identifiers between dotted decimal text and DER content octets.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace tessaline {

// The content octets of the OBJECT IDENTIFIER for DOTTED ("1.2.840.113549"):
// at least two arcs of decimal digits without leading zeros, the first 0, 1
// or 2, the second below 40 unless the first is 2. False for anything else.
[[nodiscard]] bool EncodeObjectIdentifier(std::string_view dotted, std::vector<uint8_t>* content);

}  // namespace tessaline
