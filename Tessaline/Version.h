#pragma once

namespace tessaline {

// The version every deliverable reports to page script.
inline constexpr char16_t kAgentVersion[] = u"3.2.0.3";

}  // namespace tessaline
