#include "platform/cert/PropertyRecords.h"

#include <cstring>

#include "platform/base/ByteView.h"
#include "platform/base/Errors.h"

namespace tessaline::cert {
namespace {

constexpr DWORD kCertificateProperty = 32;
constexpr DWORD kLow24 = 0x00FFFFFF;
constexpr size_t kKeyProvHeader = 7 * 4;
constexpr size_t kParamRecord = 4 * 4;

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void SetU32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutBytes(std::vector<uint8_t>* out, const uint8_t* data, size_t size) {
  const size_t at = out->size();
  out->resize(at + size);
  if (size != 0) std::memcpy(out->data() + at, data, size);
}

void PutRecord(std::vector<uint8_t>* out, DWORD id, std::span<const uint8_t> data) {
  PutU32(out, id);
  PutU32(out, 1);
  PutU32(out, static_cast<uint32_t>(data.size()));
  PutBytes(out, data.data(), data.size());
}

// Appends TEXT as NUL-terminated UTF-16LE and returns its offset.
uint32_t PutString(std::vector<uint8_t>* out, const char16_t* text) {
  const auto offset = static_cast<uint32_t>(out->size());
  for (const char16_t* p = text; *p != u'\0'; ++p) {
    out->push_back(static_cast<uint8_t>(*p & 0xFF));
    out->push_back(static_cast<uint8_t>(*p >> 8));
  }
  out->push_back(0);
  out->push_back(0);
  return offset;
}

// The NUL-terminated UTF-16LE string at OFFSET of WHOLE.
bool ReadString(std::span<const uint8_t> whole, uint32_t offset, std::u16string* out) {
  if (offset < kKeyProvHeader || offset > whole.size()) return false;
  ByteView view(whole.subspan(offset));
  out->clear();
  while (true) {
    uint16_t c;
    if (!view.ReadU16LE(&c)) return false;
    if (c == 0) return true;
    out->push_back(static_cast<char16_t>(c));
  }
}

size_t AlignUp(size_t n, size_t alignment) { return (n + alignment - 1) / alignment * alignment; }

}  // namespace

std::vector<uint8_t> SerializeProperties(const PropertyMap& properties, std::span<const uint8_t> certificate) {
  std::vector<uint8_t> blob;
  for (const auto& [id, data] : properties) {
    if (id != kCertificateProperty) PutRecord(&blob, id, data);
  }
  PutRecord(&blob, kCertificateProperty, certificate);
  return blob;
}

bool ParseProperties(std::span<const uint8_t> blob, PropertyMap* properties, std::vector<uint8_t>* certificate) {
  ByteView view(blob);
  bool found = false;
  properties->clear();
  while (!view.empty()) {
    uint32_t id;
    uint32_t reserved;
    uint32_t length;
    ByteView data;
    if (!view.ReadU32LE(&id) || !view.ReadU32LE(&reserved) || !view.ReadU32LE(&length) ||
        !view.ReadBytes(length & kLow24, &data)) {
      return false;
    }
    id &= kLow24;
    if (id == kCertificateProperty) {
      certificate->assign(data.data(), data.data() + data.size());
      found = true;
    } else {
      (*properties)[id].assign(data.data(), data.data() + data.size());
    }
  }
  return found;
}

std::vector<uint8_t> SerializeKeyProvInfo(const CRYPT_KEY_PROV_INFO& info) {
  std::vector<uint8_t> out(kKeyProvHeader, 0);
  SetU32(&out, 8, info.dwProvType);
  SetU32(&out, 12, info.dwFlags);
  SetU32(&out, 24, info.dwKeySpec);
  const DWORD count = info.rgProvParam == nullptr ? 0 : info.cProvParam;
  if (count > 0) {
    SetU32(&out, 16, count);
    SetU32(&out, 20, static_cast<uint32_t>(out.size()));
    const size_t table = out.size();
    out.reserve(table + count * kParamRecord);
    for (size_t k = 0; k < count * kParamRecord; ++k) out.push_back(0);
    for (DWORD i = 0; i < count; ++i) {
      const CRYPT_KEY_PROV_PARAM& p = info.rgProvParam[i];
      const size_t at = table + i * kParamRecord;
      SetU32(&out, at, p.dwParam);
      SetU32(&out, at + 4, static_cast<uint32_t>(out.size()));
      const DWORD length = p.pbData == nullptr ? 0 : p.cbData;
      SetU32(&out, at + 8, length);
      SetU32(&out, at + 12, p.dwFlags);
      PutBytes(&out, p.pbData, length);
    }
  }
  if (info.pwszContainerName != nullptr) SetU32(&out, 0, PutString(&out, info.pwszContainerName));
  if (info.pwszProvName != nullptr) SetU32(&out, 4, PutString(&out, info.pwszProvName));
  return out;
}

bool ParseKeyProvInfo(std::span<const uint8_t> serialized, KeyProvInfo* out) {
  ByteView header(serialized);
  uint32_t container, provider, count, params;
  if (!header.ReadU32LE(&container) || !header.ReadU32LE(&provider) || !header.ReadU32LE(&out->provider_type) ||
      !header.ReadU32LE(&out->flags) || !header.ReadU32LE(&count) || !header.ReadU32LE(&params) ||
      !header.ReadU32LE(&out->key_spec)) {
    return false;
  }
  out->has_container = container != 0;
  out->has_provider = provider != 0;
  if (out->has_container && !ReadString(serialized, container, &out->container)) return false;
  if (out->has_provider && !ReadString(serialized, provider, &out->provider)) return false;
  out->params.clear();
  if (count > 0) {
    if (params < kKeyProvHeader || params > serialized.size()) return false;
    ByteView table(serialized.subspan(params));
    if (count > table.size() / kParamRecord) return false;
    for (uint32_t i = 0; i < count; ++i) {
      KeyProvInfo::Param param;
      uint32_t offset, length;
      if (!table.ReadU32LE(&param.id) || !table.ReadU32LE(&offset) || !table.ReadU32LE(&length) ||
          !table.ReadU32LE(&param.flags)) {
        return false;
      }
      if (offset > serialized.size() || length > serialized.size() - offset) return false;
      param.data.assign(serialized.data() + offset, serialized.data() + offset + length);
      out->params.push_back(std::move(param));
    }
  }
  return true;
}

DWORD ExpandKeyProvInfo(const KeyProvInfo& info, void* out, DWORD* size) {
  // Structure, parameter table, parameter data, then the two strings.
  size_t total = sizeof(CRYPT_KEY_PROV_INFO);
  const size_t table_at = AlignUp(total, alignof(CRYPT_KEY_PROV_PARAM));
  total = table_at + info.params.size() * sizeof(CRYPT_KEY_PROV_PARAM);
  std::vector<size_t> data_at;
  for (const auto& p : info.params) {
    data_at.push_back(total);
    total += p.data.size();
  }
  total = AlignUp(total, alignof(char16_t));
  const size_t container_at = total;
  if (info.has_container) total += (info.container.size() + 1) * sizeof(char16_t);
  const size_t provider_at = total;
  if (info.has_provider) total += (info.provider.size() + 1) * sizeof(char16_t);
  if (total > 0xFFFFFFFFu) return ERROR_INVALID_DATA;

  if (out == nullptr) {
    *size = static_cast<DWORD>(total);
    return ERROR_SUCCESS;
  }
  if (*size < total) {
    *size = static_cast<DWORD>(total);
    return ERROR_MORE_DATA;
  }
  auto* base = static_cast<uint8_t*>(out);
  CRYPT_KEY_PROV_INFO result{};
  result.dwProvType = info.provider_type;
  result.dwFlags = info.flags;
  result.dwKeySpec = info.key_spec;
  result.cProvParam = static_cast<DWORD>(info.params.size());
  if (!info.params.empty()) {
    result.rgProvParam = reinterpret_cast<CRYPT_KEY_PROV_PARAM*>(base + table_at);
    for (size_t i = 0; i < info.params.size(); ++i) {
      const auto& p = info.params[i];
      CRYPT_KEY_PROV_PARAM param{p.id, p.data.empty() ? nullptr : base + data_at[i],
                                 static_cast<DWORD>(p.data.size()), p.flags};
      if (!p.data.empty()) std::memcpy(base + data_at[i], p.data.data(), p.data.size());
      std::memcpy(base + table_at + i * sizeof(CRYPT_KEY_PROV_PARAM), &param, sizeof(param));
    }
  }
  if (info.has_container) {
    std::memcpy(base + container_at, info.container.c_str(), (info.container.size() + 1) * sizeof(char16_t));
    result.pwszContainerName = reinterpret_cast<LPWSTR>(base + container_at);
  }
  if (info.has_provider) {
    std::memcpy(base + provider_at, info.provider.c_str(), (info.provider.size() + 1) * sizeof(char16_t));
    result.pwszProvName = reinterpret_cast<LPWSTR>(base + provider_at);
  }
  std::memcpy(base, &result, sizeof(result));
  *size = static_cast<DWORD>(total);
  return ERROR_SUCCESS;
}

}  // namespace tessaline::cert
