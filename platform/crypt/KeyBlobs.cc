#include "platform/crypt/KeyBlobs.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Result.h"
#include "platform/crypt/Crypt.h"

namespace tessaline::crypt {
namespace {

using tessaline::ByteView;

DWORD Bits(HRESULT hr) { return ResultBits(hr); }

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Appends BIG_ENDIAN least significant byte first in WIDTH bytes.
bool PutLittleEndian(std::vector<uint8_t>* out, const std::vector<uint8_t>& big_endian, size_t width) {
  size_t skip = 0;
  while (skip < big_endian.size() && big_endian[skip] == 0) ++skip;
  if (big_endian.size() - skip > width) return false;
  for (size_t i = 0; i < width; ++i) {
    out->push_back(i < big_endian.size() - skip ? big_endian[big_endian.size() - 1 - i] : 0);
  }
  return true;
}

bool ReadLittleEndian(ByteView* in, size_t width, std::vector<uint8_t>* big_endian) {
  ByteView field;
  if (!in->ReadBytes(width, &field)) return false;
  big_endian->assign(field.data(), field.data() + width);
  std::reverse(big_endian->begin(), big_endian->end());
  return true;
}

}  // namespace

bool BuildRsaBlob(const RsaBlob& key, bool with_private, std::vector<uint8_t>* out) {
  const size_t full = key.bits / 8, half = key.bits / 16;
  std::vector<uint8_t> blob;
  blob.push_back(static_cast<uint8_t>(with_private ? PRIVATEKEYBLOB : PUBLICKEYBLOB));
  blob.push_back(CUR_BLOB_VERSION);
  blob.push_back(0);
  blob.push_back(0);
  PutU32(&blob, key.algorithm);
  PutU32(&blob, with_private ? RSA2_MAGIC : RSA1_MAGIC);
  PutU32(&blob, key.bits);
  std::vector<uint8_t> exponent;
  if (!PutLittleEndian(&exponent, key.numbers.public_exponent, 4)) return false;
  blob.insert(blob.end(), exponent.begin(), exponent.end());
  bool ok = PutLittleEndian(&blob, key.numbers.modulus, full);
  if (with_private) {
    ok = ok && PutLittleEndian(&blob, key.numbers.prime1, half) && PutLittleEndian(&blob, key.numbers.prime2, half) &&
         PutLittleEndian(&blob, key.numbers.exponent1, half) && PutLittleEndian(&blob, key.numbers.exponent2, half) &&
         PutLittleEndian(&blob, key.numbers.coefficient, half) &&
         PutLittleEndian(&blob, key.numbers.private_exponent, full);
  }
  if (!ok) return false;
  *out = std::move(blob);
  return true;
}

DWORD ParseRsaBlob(ByteView blob, RsaBlob* out) {
  uint8_t type = 0, version = 0;
  uint16_t reserved = 0;
  uint32_t algorithm = 0, magic = 0, bits = 0, exponent = 0;
  if (!blob.ReadU8(&type) || !blob.ReadU8(&version) || !blob.ReadU16LE(&reserved) || !blob.ReadU32LE(&algorithm)) {
    return Bits(NTE_BAD_DATA);
  }
  if (type != PUBLICKEYBLOB && type != PRIVATEKEYBLOB) return Bits(NTE_BAD_TYPE);
  if (version != CUR_BLOB_VERSION) return Bits(NTE_BAD_VER);
  if (algorithm != CALG_RSA_KEYX && algorithm != CALG_RSA_SIGN) return Bits(NTE_BAD_ALGID);
  const bool is_private = type == PRIVATEKEYBLOB;
  if (!blob.ReadU32LE(&magic) || !blob.ReadU32LE(&bits) || !blob.ReadU32LE(&exponent)) return Bits(NTE_BAD_DATA);
  if (magic != (is_private ? RSA2_MAGIC : RSA1_MAGIC)) return Bits(NTE_BAD_DATA);
  if (bits < kMinRsaBits || bits > kMaxRsaBits || bits % 16 != 0) return Bits(NTE_BAD_DATA);
  const size_t full = bits / 8, half = bits / 16;
  const size_t expected = is_private ? 9 * half : full;
  if (blob.size() != expected) return Bits(NTE_BAD_DATA);

  RsaBlob key;
  key.algorithm = algorithm;
  key.bits = bits;
  for (int i = 3; i >= 0; --i) {
    const uint8_t byte = static_cast<uint8_t>(exponent >> (8 * i));
    if (!key.numbers.public_exponent.empty() || byte != 0) key.numbers.public_exponent.push_back(byte);
  }
  if (key.numbers.public_exponent.empty()) return Bits(NTE_BAD_DATA);
  bool ok = ReadLittleEndian(&blob, full, &key.numbers.modulus);
  if (is_private) {
    ok = ok && ReadLittleEndian(&blob, half, &key.numbers.prime1) &&
         ReadLittleEndian(&blob, half, &key.numbers.prime2) && ReadLittleEndian(&blob, half, &key.numbers.exponent1) &&
         ReadLittleEndian(&blob, half, &key.numbers.exponent2) &&
         ReadLittleEndian(&blob, half, &key.numbers.coefficient) &&
         ReadLittleEndian(&blob, full, &key.numbers.private_exponent);
  }
  if (!ok) return Bits(NTE_BAD_DATA);
  // The modulus must really have the stated length.
  if (key.numbers.modulus.empty() || (key.numbers.modulus[0] & 0x80) == 0) return Bits(NTE_BAD_DATA);
  *out = std::move(key);
  return ERROR_SUCCESS;
}

std::vector<uint8_t> BuildSm2PublicKeyBlob(ALG_ID algorithm, const std::array<uint8_t, 32>& x,
                                           const std::array<uint8_t, 32>& y) {
  std::vector<uint8_t> blob(SM2_PUBLICKEYBLOB_SIZE, 0);
  blob[0] = static_cast<uint8_t>(PUBLICKEYBLOB);
  blob[1] = CUR_BLOB_VERSION;
  for (int i = 0; i < 4; ++i) blob[4 + i] = static_cast<uint8_t>(algorithm >> (8 * i));
  blob[8] = 0x00;  // 256 bits, little-endian
  blob[9] = 0x01;
  for (size_t i = 0; i < 32; ++i) {
    blob[SM2_PUBLICKEYBLOB_X_OFFSET + i] = x[31 - i];
    blob[SM2_PUBLICKEYBLOB_Y_OFFSET + i] = y[31 - i];
  }
  return blob;
}

DWORD ParseSimpleBlob(ByteView blob, SimpleBlob* out) {
  uint8_t type = 0, version = 0;
  uint16_t reserved = 0;
  uint32_t algorithm = 0, wrapping = 0;
  if (!blob.ReadU8(&type) || !blob.ReadU8(&version) || !blob.ReadU16LE(&reserved) || !blob.ReadU32LE(&algorithm) ||
      !blob.ReadU32LE(&wrapping)) {
    return Bits(NTE_BAD_DATA);
  }
  if (type != SIMPLEBLOB) return Bits(NTE_BAD_TYPE);
  if (version != CUR_BLOB_VERSION) return Bits(NTE_BAD_VER);
  if (blob.empty()) return Bits(NTE_BAD_DATA);
  SimpleBlob result;
  result.algorithm = algorithm;
  result.wrapping_algorithm = wrapping;
  result.encrypted_key.assign(blob.data(), blob.data() + blob.size());
  std::reverse(result.encrypted_key.begin(), result.encrypted_key.end());
  *out = std::move(result);
  return ERROR_SUCCESS;
}

bool IsVendorBlob(ByteView blob) {
  uint8_t type = 0, version = 0;
  uint16_t reserved = 0;
  return blob.ReadU8(&type) && blob.ReadU8(&version) && blob.ReadU16LE(&reserved) && type == PRIVATEKEYBLOB &&
         reserved == VENDOR_BLOB_RESERVED;
}

DWORD ParseVendorBlob(ByteView blob, VendorBlob* out) {
  // Payloads are encrypted keys; anything larger is not one.
  constexpr uint32_t kMaxPayloadBytes = 1u << 20;
  if (!IsVendorBlob(blob)) return Bits(NTE_BAD_TYPE);
  uint32_t header = 0, header_algorithm = 0, algorithm = 0, key_bits = 0, payload_bits = 0;
  if (!blob.ReadU32LE(&header) || !blob.ReadU32LE(&header_algorithm) || !blob.ReadU32LE(&algorithm)) {
    return Bits(NTE_BAD_DATA);
  }
  if (header_algorithm != algorithm) return Bits(NTE_BAD_DATA);
  VendorBlob result;
  result.algorithm = algorithm;
  if (algorithm == CALG_RSA_KEYX) {
    if (!blob.ReadU32LE(&key_bits)) return Bits(NTE_BAD_DATA);
  } else if (algorithm != CALG_SM2_KEYX) {
    return Bits(NTE_BAD_ALGID);
  }
  result.key_bits = key_bits;
  if (!blob.ReadU32LE(&payload_bits) || blob.size() != sizeof(void*)) return Bits(NTE_BAD_DATA);
  if (payload_bits == 0 || payload_bits % 8 != 0 || payload_bits / 8 > kMaxPayloadBytes) return Bits(NTE_BAD_DATA);
  const uint8_t* address = nullptr;
  std::memcpy(&address, blob.data(), sizeof(address));
  if (address == nullptr) return Bits(NTE_BAD_DATA);
  result.payload = ByteView(address, payload_bits / 8);
  *out = result;
  return ERROR_SUCCESS;
}

DWORD ParseVendorRsaPayload(ByteView der, VendorRsaPayload* out) {
  ByteView sequence, version;
  VendorRsaPayload result;
  if (!der.ReadDer(0x30, &sequence) || !der.empty() || !sequence.ReadDer(0x02, &version) ||
      !sequence.ReadDer(0x06, &result.asymmetric_oid) || !sequence.ReadDer(0x06, &result.symmetric_oid) ||
      !sequence.ReadDer(0x04, &result.encrypted_session_key) ||
      !sequence.ReadDer(0x04, &result.encrypted_private_key) || !sequence.empty()) {
    return Bits(NTE_BAD_DATA);
  }
  if (version.size() != 1 || version.data()[0] != 1) return Bits(NTE_BAD_DATA);
  *out = result;
  return ERROR_SUCCESS;
}

}  // namespace tessaline::crypt
