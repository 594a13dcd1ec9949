// The resources compiled into the program (generated from resources/ at
// build time). Only the resource loader reads this table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessaline {

struct EmbeddedResource {
  const char* type;  // folder name: "strings" for message tables, else e.g. "CERTIFICATE"
  uint32_t id;       // numeric id; for message tables the language id
  const unsigned char* data;
  size_t size;  // bytes, without the terminating zero byte that follows them
};

// kEmbeddedResourceCount entries, then one all-null entry.
extern const EmbeddedResource kEmbeddedResources[];
extern const size_t kEmbeddedResourceCount;

// The folder that holds the message tables.
inline constexpr const char* kMessageTableType = "strings";

}  // namespace tessaline
