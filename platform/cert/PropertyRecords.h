// The serialized forms a system store keeps in the registry: the property
// records of a certificate's "Blob" value, and the key-provider property.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "platform/base/CryptTypes.h"
#include "platform/base/Types.h"

namespace tessaline::cert {

using PropertyMap = std::map<DWORD, std::vector<uint8_t>>;

// Property record, all fields little-endian:
//   id (4) | reserved, 1 (4) | length n (4) | data (n)
// The records follow one another; the certificate is property 32, written
// last.
std::vector<uint8_t> SerializeProperties(const PropertyMap& properties, std::span<const uint8_t> certificate);

// Splits a blob into its properties and the certificate. Only the low 24
// bits of an id and of a length count. False when a record runs past the
// end or there is no property 32.
bool ParseProperties(std::span<const uint8_t> blob, PropertyMap* properties, std::vector<uint8_t>* certificate);

struct KeyProvInfo {
  std::u16string container;
  std::u16string provider;
  bool has_container = false;
  bool has_provider = false;
  DWORD provider_type = 0;
  DWORD flags = 0;
  DWORD key_spec = 0;
  struct Param {
    DWORD id;
    DWORD flags;
    std::vector<uint8_t> data;
  };
  std::vector<Param> params;
};

// Serialized key-provider property (little-endian, offsets from its start,
// 0 for an absent string):
//   container offset | provider offset | provider type | flags |
//   parameter count | parameters offset | key specification
// followed by the parameters (id | data offset | length | flags each), their
// data, and the two strings as NUL-terminated UTF-16LE.
std::vector<uint8_t> SerializeKeyProvInfo(const CRYPT_KEY_PROV_INFO& info);
bool ParseKeyProvInfo(std::span<const uint8_t> serialized, KeyProvInfo* out);

// Lays out INFO as a CRYPT_KEY_PROV_INFO with its strings and parameters
// after it in one caller buffer. Two-call pattern: with OUT null, *SIZE gets
// the size; ERROR_MORE_DATA when *SIZE is too small.
DWORD ExpandKeyProvInfo(const KeyProvInfo& info, void* out, DWORD* size);

}  // namespace tessaline::cert
