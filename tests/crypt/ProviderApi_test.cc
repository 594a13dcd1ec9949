// The shape of the provider interface: enumeration, container lifecycle,
// flags and types, handles, parameters.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "platform/base/Utf.h"
#include "tests/crypt/CryptFixture.h"

namespace tessaline::test {
namespace {

std::vector<std::string> EnumContainers(HCRYPTPROV prov) {
  std::vector<std::string> names;
  DWORD size = 0;
  if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST)) return names;
  std::vector<uint8_t> buffer(size);
  DWORD flags = CRYPT_FIRST;
  for (;;) {
    DWORD length = size;
    if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, buffer.data(), &length, flags)) break;
    names.emplace_back(reinterpret_cast<const char*>(buffer.data()));
    flags = CRYPT_NEXT;
  }
  return names;
}

TEST(Providers, EnumeratesTheCatalogInOrderWithTypes) {
  const std::vector<std::pair<std::u16string, DWORD>> expected = {
      {MS_DEF_PROV_W, PROV_RSA_FULL},
      {MS_ENHANCED_PROV_W, PROV_RSA_FULL},
      {MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES},
      {MS_STRONG_PROV_W, PROV_RSA_FULL},
      {TL_SM2_PROV_W, PROV_RSA_FULL},
  };
  for (DWORD i = 0; i < expected.size(); ++i) {
    DWORD size = 0, type = 0;
    ASSERT_TRUE(CryptEnumProvidersW(i, nullptr, 0, &type, nullptr, &size));
    EXPECT_EQ(size, (expected[i].first.size() + 1) * 2);
    std::u16string name(size / 2, u'?');
    DWORD small = 4;
    EXPECT_FALSE(CryptEnumProvidersW(i, nullptr, 0, &type, name.data(), &small));
    EXPECT_EQ(LastError(), ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    ASSERT_TRUE(CryptEnumProvidersW(i, nullptr, 0, &type, name.data(), &size));
    EXPECT_EQ(name, expected[i].first + u'\0');
    EXPECT_EQ(type, expected[i].second);
  }
  DWORD size = 0;
  EXPECT_FALSE(CryptEnumProvidersW(5, nullptr, 0, nullptr, nullptr, &size));
  EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS);
}

TEST(Providers, AcquireRefusesWrongTypesFlagsAndNames) {
  struct Case {
    const char16_t* provider;
    const char16_t* container;
    DWORD type;
    DWORD flags;
    DWORD error;
  };
  const std::u16string missing = UniqueName(u"missing");
  const Case cases[] = {
      {MS_ENH_RSA_AES_PROV_W, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, Code(NTE_PROV_TYPE_NO_MATCH)},
      {MS_DEF_PROV_W, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT, Code(NTE_PROV_TYPE_NO_MATCH)},
      {u"No Such Provider", nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, Code(NTE_KEYSET_NOT_DEF)},
      {MS_DEF_PROV_W, missing.c_str(), PROV_RSA_FULL, 0, Code(NTE_BAD_KEYSET)},
      {MS_DEF_PROV_W, missing.c_str(), PROV_RSA_FULL, CRYPT_DELETEKEYSET, Code(NTE_BAD_KEYSET)},
      {MS_DEF_PROV_W, missing.c_str(), PROV_RSA_FULL, 0x4, Code(NTE_BAD_FLAGS)},
      {MS_DEF_PROV_W, missing.c_str(), PROV_RSA_FULL, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET, Code(NTE_BAD_FLAGS)},
      // Only the vendor provider opens a named container with CRYPT_VERIFYCONTEXT.
      {MS_STRONG_PROV_W, missing.c_str(), PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, Code(NTE_BAD_FLAGS)},
      {TL_SM2_PROV_W, missing.c_str(), PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, Code(NTE_BAD_KEYSET)},
  };
  for (const Case& c : cases) {
    HCRYPTPROV prov = 0x1234;
    EXPECT_FALSE(CryptAcquireContextW(&prov, c.container, c.provider, c.type, c.flags)) << Utf16ToUtf8(c.provider);
    EXPECT_EQ(LastError(), c.error) << Utf16ToUtf8(c.provider) << " flags " << c.flags;
    EXPECT_EQ(prov, 0x1234u);  // untouched on failure
  }
}

TEST(Providers, ContainerLifecycle) {
  for (DWORD delete_flag : {CRYPT_DELETEKEYSET, CRYPT_SM2_DELETEKEYSET}) {
    const std::u16string name = UniqueName();
    {
      Prov prov;
      ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
      Prov again;
      EXPECT_FALSE(CryptAcquireContextW(&again.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
      EXPECT_EQ(LastError(), Code(NTE_EXISTS));
      // The same name in another provider is another container.
      Prov other;
      ASSERT_TRUE(CryptAcquireContextW(&other.h, name.c_str(), MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    }
    Prov open;
    ASSERT_TRUE(CryptAcquireContextW(&open.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, 0));
    HCRYPTPROV deleted = 77;
    ASSERT_TRUE(CryptAcquireContextW(&deleted, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, delete_flag));
    EXPECT_EQ(deleted, 0u);
    Prov gone;
    EXPECT_FALSE(CryptAcquireContextW(&gone.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, 0));
    EXPECT_EQ(LastError(), Code(NTE_BAD_KEYSET));
    // A handle still open on the deleted container finds no keys.
    KeyH key;
    EXPECT_FALSE(CryptGenKey(open.h, AT_SIGNATURE, KeyLengthFlags(512), &key.h));
    EXPECT_EQ(LastError(), Code(NTE_BAD_KEYSET));
    Prov other;
    EXPECT_TRUE(CryptAcquireContextW(&other.h, name.c_str(), MS_DEF_PROV_W, PROV_RSA_FULL, 0));
  }
}

TEST(Providers, StaleAndForgedHandlesFailWithInvalidHandle) {
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGenKey(prov.h, CALG_3DES, 0, &key));
  HCRYPTHASH hash = 0;
  ASSERT_TRUE(CryptCreateHash(prov.h, CALG_SHA1, 0, 0, &hash));
  ASSERT_TRUE(CryptDestroyKey(key));
  ASSERT_TRUE(CryptDestroyHash(hash));
  HCRYPTPROV released = 0;
  ASSERT_TRUE(CryptAcquireContextW(&released, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  ASSERT_TRUE(CryptReleaseContext(released, 0));

  BYTE buffer[64];
  DWORD size = sizeof(buffer);
  HCRYPTKEY out_key = 0;
  HCRYPTHASH out_hash = 0;
  const DWORD mode = CRYPT_MODE_ECB;
  for (const uintptr_t forged : {uintptr_t{0}, uintptr_t{1}, uintptr_t{0xDEADBEEF}, key, hash, released}) {
    EXPECT_FALSE(CryptReleaseContext(forged, 0));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptGenKey(forged, AT_SIGNATURE, 0, &out_key));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptGetProvParam(forged, PP_NAME, buffer, &size, 0));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptCreateHash(forged, CALG_SHA1, 0, 0, &out_hash));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptGenRandom(forged, 8, buffer));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptSetKeyParam(forged, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptExportKey(forged, 0, PUBLICKEYBLOB, 0, nullptr, &size));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptDecrypt(forged, 0, TRUE, 0, buffer, &size));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptDestroyKey(forged));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptHashData(forged, buffer, 1, 0));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptSignHashW(forged, AT_SIGNATURE, nullptr, 0, nullptr, &size));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CryptDestroyHash(forged));
    EXPECT_EQ(LastError(), ERROR_INVALID_HANDLE);
  }
}

TEST(Providers, KeysOutliveTheirProviderHandle) {
  HCRYPTPROV prov = 0;
  ASSERT_TRUE(CryptAcquireContextW(&prov, nullptr, MS_ENHANCED_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  KeyH key;
  ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, KeyLengthFlags(512), &key.h));
  ASSERT_TRUE(CryptReleaseContext(prov, 0));
  EXPECT_EQ(GetKeyDword(key.h, KP_KEYLEN), 512u);
  EXPECT_FALSE(Export(key.h, PUBLICKEYBLOB).empty());
}

TEST(Providers, GenKeyReadsAlgorithmLengthAndFlags) {
  struct Case {
    const char16_t* provider;
    ALG_ID algorithm;
    DWORD flags;
    DWORD error;  // 0: generated
    ALG_ID stored_algorithm;
    DWORD bits;
  };
  const Case cases[] = {
      {MS_DEF_PROV_W, AT_KEYEXCHANGE, 0, 0, CALG_RSA_KEYX, 1024},  // the provider's default length
      {MS_DEF_PROV_W, AT_SIGNATURE, KeyLengthFlags(512) | CRYPT_EXPORTABLE, 0, CALG_RSA_SIGN, 512},
      {MS_DEF_PROV_W, CALG_RSA_KEYX, KeyLengthFlags(768), 0, CALG_RSA_KEYX, 768},
      {MS_DEF_PROV_W, CALG_RSA_SIGN, KeyLengthFlags(520), Code(NTE_BAD_FLAGS), 0, 0},
      {MS_DEF_PROV_W, CALG_RSA_SIGN, KeyLengthFlags(256), Code(NTE_BAD_FLAGS), 0, 0},
      {MS_DEF_PROV_W, AT_SIGNATURE, 0x100, Code(NTE_BAD_FLAGS), 0, 0},
      {MS_DEF_PROV_W, CALG_SM2_SIGN, KeyLengthFlags(256), Code(NTE_BAD_ALGID), 0, 0},
      {MS_DEF_PROV_W, 0x1234, 0, Code(NTE_BAD_ALGID), 0, 0},
      {TL_SM2_PROV_W, CALG_SM2_SIGN, KeyLengthFlags(256), 0, CALG_SM2_SIGN, 256},
      {TL_SM2_PROV_W, CALG_SM2_KEYX, 0, 0, CALG_SM2_KEYX, 256},
      {TL_SM2_PROV_W, CALG_SM2_KEYX, KeyLengthFlags(512), Code(NTE_BAD_FLAGS), 0, 0},
      {TL_SM2_PROV_W, AT_KEYEXCHANGE, KeyLengthFlags(512), 0, CALG_RSA_KEYX, 512},
      {MS_STRONG_PROV_W, CALG_3DES, 0, 0, CALG_3DES, 192},
  };
  for (const Case& c : cases) {
    const std::u16string name = UniqueName();
    Prov prov;
    const DWORD type = std::u16string(c.provider) == MS_ENH_RSA_AES_PROV_W ? PROV_RSA_AES : PROV_RSA_FULL;
    ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), c.provider, type, CRYPT_NEWKEYSET));
    KeyH key;
    const BOOL ok = CryptGenKey(prov.h, c.algorithm, c.flags, &key.h);
    SCOPED_TRACE(testing::Message() << "algorithm " << std::hex << c.algorithm << " flags " << c.flags);
    if (c.error != 0) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(LastError(), c.error);
      continue;
    }
    ASSERT_TRUE(ok);
    EXPECT_EQ(GetKeyDword(key.h, KP_ALGID), c.stored_algorithm);
    EXPECT_EQ(GetKeyDword(key.h, KP_KEYLEN), c.bits);
    if (c.stored_algorithm == CALG_3DES) continue;
    // The pair is stored under its key specification.
    const DWORD key_spec = (c.stored_algorithm == CALG_RSA_KEYX || c.stored_algorithm == CALG_SM2_KEYX) ? AT_KEYEXCHANGE
                                                                                                       : AT_SIGNATURE;
    KeyH user;
    ASSERT_TRUE(CryptGetUserKey(prov.h, key_spec, &user.h));
    EXPECT_EQ(Export(user.h, PUBLICKEYBLOB), Export(key.h, PUBLICKEYBLOB));
    KeyH other;
    EXPECT_FALSE(CryptGetUserKey(prov.h, key_spec == AT_SIGNATURE ? AT_KEYEXCHANGE : AT_SIGNATURE, &other.h));
    EXPECT_EQ(LastError(), Code(NTE_NO_KEY));
  }
}

TEST(Providers, EnumeratesContainersInCreationOrderWithOneBuffer) {
  FreshScopes();
  const std::vector<std::u16string> names = {u"zeta", u"a-much-longer-container-name-than-the-first", u"b"};
  for (const auto& name : names) {
    Prov prov;
    ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), MS_STRONG_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  }
  Prov other;
  ASSERT_TRUE(CryptAcquireContextW(&other.h, u"elsewhere", TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));

  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, nullptr, MS_STRONG_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  DWORD size = 0;
  ASSERT_TRUE(CryptGetProvParam(prov.h, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST));
  EXPECT_EQ(size, names[1].size() + 1);  // the longest name with its NUL
  std::vector<uint8_t> buffer(size);
  DWORD small = 3;
  EXPECT_FALSE(CryptGetProvParam(prov.h, PP_ENUMCONTAINERS, buffer.data(), &small, CRYPT_FIRST));
  EXPECT_EQ(LastError(), ERROR_MORE_DATA);
  EXPECT_EQ(small, 5u);  // "zeta" and NUL; the walk did not advance
  EXPECT_EQ(EnumContainers(prov.h), (std::vector<std::string>{"zeta", Utf16ToUtf8(names[1]), "b"}));
  DWORD length = size;
  EXPECT_FALSE(CryptGetProvParam(prov.h, PP_ENUMCONTAINERS, buffer.data(), &length, CRYPT_NEXT));
  EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS);

  Prov empty;
  ASSERT_TRUE(CryptAcquireContextW(&empty.h, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  EXPECT_FALSE(CryptGetProvParam(empty.h, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST));
  EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS);
}

TEST(Providers, NameAndContainerParameters) {
  const std::u16string name = UniqueName(u"\u5bb9\u5668");
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_NEWKEYSET));
  auto text = [&](DWORD param) {
    DWORD size = 0;
    EXPECT_TRUE(CryptGetProvParam(prov.h, param, nullptr, &size, 0));
    std::vector<char> buffer(size);
    EXPECT_TRUE(CryptGetProvParam(prov.h, param, reinterpret_cast<BYTE*>(buffer.data()), &size, 0));
    EXPECT_EQ(buffer.back(), '\0');
    return std::string(buffer.data());
  };
  EXPECT_EQ(text(PP_NAME), "Microsoft Enhanced RSA and AES Cryptographic Provider");
  EXPECT_EQ(text(PP_CONTAINER), Utf16ToUtf8(name));
  DWORD size = 0;
  EXPECT_FALSE(CryptGetProvParam(prov.h, 999, nullptr, &size, 0));
  EXPECT_EQ(LastError(), Code(NTE_BAD_TYPE));
}

TEST(Providers, EnumeratesAlgorithmsAsEightyEightByteRecords) {
  struct Case {
    const char16_t* provider;
    bool has_sm;
  };
  for (const Case& c : {Case{MS_ENHANCED_PROV_W, false}, Case{TL_SM2_PROV_W, true}}) {
    Prov prov;
    ASSERT_TRUE(CryptAcquireContextW(&prov.h, nullptr, c.provider, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    std::map<ALG_ID, PROV_ENUMALGS_EX> found;
    DWORD flags = CRYPT_FIRST;
    PROV_ENUMALGS_EX record;
    DWORD size = sizeof(record);
    while (CryptGetProvParam(prov.h, PP_ENUMALGS_EX, reinterpret_cast<BYTE*>(&record), &size, flags)) {
      EXPECT_EQ(size, 88u);
      EXPECT_EQ(record.szName[record.dwNameLen - 1], '\0');
      found[record.aiAlgid] = record;
      flags = 0;
    }
    EXPECT_EQ(LastError(), ERROR_NO_MORE_ITEMS);
    ASSERT_TRUE(found.count(CALG_3DES));
    EXPECT_EQ(found[CALG_3DES].dwDefaultLen, 192u);
    EXPECT_TRUE(found.count(CALG_RSA_KEYX) && found.count(CALG_SHA1) && found.count(CALG_MD5));
    EXPECT_EQ(found.count(CALG_SM3) + found.count(CALG_SM2_SIGN) + found.count(CALG_SM2_KEYX), c.has_sm ? 3u : 0u);
  }
}

TEST(Providers, ContainerNamesAreDataNeverPaths) {
  FreshScopes();
  const std::string user_dir = std::string(getenv("XDG_DATA_HOME"));
  const std::vector<std::u16string> names = {
      u"../../etc/passwd",
      u"/absolute/path",
      u"tab\there\x01\x1f" u"control",
      std::u16string(300, u'x'),
      u"\u4e2d\u6587 \U0001F511",
      u"'; DROP TABLE crypt_containers; --",
  };
  for (const auto& name : names) {
    {
      Prov prov;
      ASSERT_TRUE(CryptAcquireContextW(&prov.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
      KeyH key;
      ASSERT_TRUE(CryptGenKey(prov.h, CALG_SM2_SIGN, 0, &key.h));
    }
    Prov again;
    ASSERT_TRUE(CryptAcquireContextW(&again.h, name.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, 0));
    KeyH key;
    EXPECT_TRUE(CryptGetUserKey(again.h, AT_SIGNATURE, &key.h));
  }
  Prov prov;
  ASSERT_TRUE(CryptAcquireContextW(&prov.h, nullptr, TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  std::vector<std::string> expected;
  for (const auto& name : names) expected.push_back(Utf16ToUtf8(name));
  EXPECT_EQ(EnumContainers(prov.h), expected);

  // Refused with a clear error rather than stored under another name.
  const std::u16string too_long(1025, u'y');
  const std::u16string lone_surrogate = u"half\xD800";
  for (const auto& bad : {too_long, lone_surrogate}) {
    Prov refused;
    EXPECT_FALSE(CryptAcquireContextW(&refused.h, bad.c_str(), TL_SM2_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_EQ(LastError(), Code(NTE_BAD_KEYSET_PARAM));
  }

  // Only the user database lives in the scope directory.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(user_dir)) {
    const std::string leaf = entry.path().filename().string();
    EXPECT_TRUE(leaf == "tessaline" || leaf.rfind("user.db", 0) == 0) << entry.path();
  }
}

TEST(Providers, DefaultContainerWhenNoNameIsGiven) {
  FreshScopes();
  Prov created;
  ASSERT_TRUE(CryptAcquireContextW(&created.h, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
  Prov opened;
  ASSERT_TRUE(CryptAcquireContextW(&opened.h, u"", MS_DEF_PROV_W, PROV_RSA_FULL, 0));
  DWORD size = 0;
  EXPECT_TRUE(CryptGetProvParam(opened.h, PP_CONTAINER, nullptr, &size, 0));
  EXPECT_GT(size, 1u);
}

}  // namespace
}  // namespace tessaline::test
