// Memory, PKCS#7 and registry-backed system stores.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/registry/Registry.h"
#include "tests/cert/CertFactory.h"
#include "tests/cert/CertTestSupport.h"
#include "tests/support/TestScopes.h"

namespace tessaline::test {
namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class CertStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { FreshScopes(); }
  CertFactory factory_;
};

BOOL AddEncoded(HCERTSTORE store, const std::vector<uint8_t>& der, DWORD disposition,
                PCCERT_CONTEXT* out = nullptr) {
  return CertAddEncodedCertificateToStore(store, kEncoding, der.data(), static_cast<DWORD>(der.size()), disposition,
                                          out);
}

std::u16string ProviderOf(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return u"<none>";
  std::vector<uint8_t> buffer(size);
  EXPECT_TRUE(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  return std::u16string(info->pwszProvName) + u"|" + info->pwszContainerName + u"|" +
         std::u16string(1, static_cast<char16_t>(u'0' + info->dwProvType % 10)) + u"|" +
         std::u16string(1, static_cast<char16_t>(u'0' + info->dwKeySpec));
}

CRYPT_KEY_PROV_INFO ProvInfo(const char16_t* container, const char16_t* provider, DWORD type, DWORD spec) {
  return CRYPT_KEY_PROV_INFO{const_cast<LPWSTR>(container), const_cast<LPWSTR>(provider), type, 0, 0, nullptr,
                             spec};
}

TEST_F(CertStoreTest, DispositionsInTheUserStoreAndAcrossReopening) {
  const auto a = factory_.Make("A", 1);
  const auto b = factory_.Make("B", 2);
  HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY", CERT_STORE_NO_CRYPT_RELEASE_FLAG);
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(AddEncoded(store, a, CERT_STORE_ADD_REPLACE_EXISTING, &added));
  const CRYPT_KEY_PROV_INFO info = ProvInfo(u"container-1", u"Microsoft Enhanced RSA and AES Cryptographic Provider",
                                            24, AT_KEYEXCHANGE);
  ASSERT_TRUE(CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  (void)CertFreeCertificateContext(added);
  ASSERT_TRUE(AddEncoded(store, a, CERT_STORE_ADD_REPLACE_EXISTING));  // replaces, property gone with it
  ASSERT_TRUE(AddEncoded(store, b, CERT_STORE_ADD_USE_EXISTING));
  EXPECT_FALSE(AddEncoded(store, a, CERT_STORE_ADD_NEW));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
  EXPECT_EQ(ListThumbprints(store).size(), 2u);
  ASSERT_TRUE(CertCloseStore(store, 0));

  // Another open, as another process would see it.
  store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"my", CERT_STORE_READONLY_FLAG);
  ASSERT_NE(store, nullptr);
  std::vector<std::u16string> providers;
  for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c != nullptr;
       c = CertEnumCertificatesInStore(store, c)) {
    providers.push_back(ProviderOf(c));
  }
  EXPECT_EQ(providers, (std::vector<std::u16string>{u"<none>", u"<none>"}));
  EXPECT_FALSE(AddEncoded(store, factory_.Make("C", 3), CERT_STORE_ADD_NEW));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CertCloseStore(store, 0));
  // The machine's MY is another store.
  store = OpenSystem(CERT_SYSTEM_STORE_LOCAL_MACHINE, u"MY");
  EXPECT_TRUE(ListThumbprints(store).empty());
  ASSERT_TRUE(CertCloseStore(store, 0));
}

// Two opens of one store stand for two processes: what one adds, the
// other's NEW and USE_EXISTING respect even though it read the store before.
TEST_F(CertStoreTest, AdditionsSeeEntriesWrittenSinceTheStoreWasRead) {
  const auto der = factory_.Make("Shared", 30);
  HCERTSTORE first = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  HCERTSTORE second = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(AddEncoded(first, der, CERT_STORE_ADD_NEW, &added));
  const CRYPT_KEY_PROV_INFO info = ProvInfo(u"kept", u"Vendor CSP", 1, AT_SIGNATURE);
  ASSERT_TRUE(CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  (void)CertFreeCertificateContext(added);

  EXPECT_FALSE(AddEncoded(second, der, CERT_STORE_ADD_NEW));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
  PCCERT_CONTEXT used = nullptr;
  ASSERT_TRUE(AddEncoded(second, der, CERT_STORE_ADD_USE_EXISTING, &used));
  EXPECT_EQ(ProviderOf(used), u"Vendor CSP|kept|1|2");
  (void)CertFreeCertificateContext(used);
  EXPECT_EQ(ListThumbprints(second).size(), 1u);

  // An entry named for a certificate but holding another one (or nothing
  // readable) is replaced rather than taken for it.
  const auto other = factory_.Make("Other", 31);
  PCCERT_CONTEXT other_context =
      CertCreateCertificateContext(kEncoding, other.data(), static_cast<DWORD>(other.size()));
  const std::string other_name = ThumbprintOf(other_context);
  (void)CertFreeCertificateContext(other_context);
  const std::u16string forged_path = u"Software\\Microsoft\\SystemCertificates\\MY\\Certificates\\" +
                                     std::u16string(other_name.begin(), other_name.end());
  HKEY forged;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, forged_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &forged,
                            nullptr),
            ERROR_SUCCESS);
  std::vector<uint8_t> wrong = {32, 0, 0, 0, 1, 0, 0, 0, static_cast<uint8_t>(der.size()),
                                static_cast<uint8_t>(der.size() >> 8), 0, 0};
  wrong.insert(wrong.end(), der.begin(), der.end());
  ASSERT_EQ(RegSetValueExW(forged, u"Blob", 0, REG_BINARY, wrong.data(), static_cast<DWORD>(wrong.size())),
            ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(forged), ERROR_SUCCESS);
  ASSERT_TRUE(AddEncoded(second, other, CERT_STORE_ADD_USE_EXISTING, &used));
  EXPECT_EQ(ThumbprintOf(used), other_name);
  (void)CertFreeCertificateContext(used);
  ASSERT_TRUE(CertCloseStore(first, 0));
  ASSERT_TRUE(CertCloseStore(second, 0));

  HCERTSTORE reread = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  std::vector<std::u16string> providers;
  std::vector<std::string> thumbprints;
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(reread, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(reread, cert)) {
    providers.push_back(ProviderOf(cert));
    thumbprints.push_back(ThumbprintOf(cert));
  }
  EXPECT_EQ(providers.size(), 2u);
  EXPECT_NE(std::find(providers.begin(), providers.end(), u"Vendor CSP|kept|1|2"), providers.end());
  EXPECT_NE(std::find(thumbprints.begin(), thumbprints.end(), other_name), thumbprints.end());
  ASSERT_TRUE(CertCloseStore(reread, 0));
}

// An entry whose name says B but which holds A gives way when B itself is
// written under that name.
TEST_F(CertStoreTest, EntryNamedForAnotherCertificateGivesWay) {
  const auto a = factory_.Make("A", 40);
  const auto b = factory_.Make("B", 41);
  PCCERT_CONTEXT b_context = CertCreateCertificateContext(kEncoding, b.data(), static_cast<DWORD>(b.size()));
  const std::string b_name = ThumbprintOf(b_context);
  (void)CertFreeCertificateContext(b_context);
  const std::u16string path = u"Software\\Microsoft\\SystemCertificates\\MY\\Certificates\\" +
                              std::u16string(b_name.begin(), b_name.end());
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  std::vector<uint8_t> blob = {32, 0, 0, 0, 1, 0, 0, 0, static_cast<uint8_t>(a.size()),
                               static_cast<uint8_t>(a.size() >> 8), 0, 0};
  blob.insert(blob.end(), a.begin(), a.end());
  ASSERT_EQ(RegSetValueExW(key, u"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  ASSERT_EQ(ListThumbprints(store).size(), 1u);  // A, under B's name
  ASSERT_TRUE(AddEncoded(store, b, CERT_STORE_ADD_REPLACE_EXISTING));
  EXPECT_EQ(ListThumbprints(store), std::vector<std::string>{b_name});
  ASSERT_TRUE(CertCloseStore(store, 0));
  store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  EXPECT_EQ(ListThumbprints(store), std::vector<std::string>{b_name});
  ASSERT_TRUE(CertCloseStore(store, 0));
}

TEST_F(CertStoreTest, KeyProviderPropertyIsKeptInTheRegistryBlob) {
  const auto der = factory_.Make("Keyed", 10);
  HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  PCCERT_CONTEXT added = nullptr;
  ASSERT_TRUE(AddEncoded(store, der, CERT_STORE_ADD_REPLACE_EXISTING, &added));
  BYTE param_data[] = {1, 2, 3};
  CRYPT_KEY_PROV_PARAM param{7, param_data, sizeof(param_data), 0};
  CRYPT_KEY_PROV_INFO info = ProvInfo(u"\u5bb9\u5668 name", u"Vendor CSP", 1, AT_SIGNATURE);
  info.cProvParam = 1;
  info.rgProvParam = &param;
  ASSERT_TRUE(CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  const std::string thumbprint = ThumbprintOf(added);
  (void)CertFreeCertificateContext(added);
  ASSERT_TRUE(CertCloseStore(store, 0));

  // The registry holds property records, the certificate last.
  const std::u16string path = u"Software\\Microsoft\\SystemCertificates\\MY\\Certificates\\" +
                              std::u16string(thumbprint.begin(), thumbprint.end());
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = 0;
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key, u"BLOB", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  std::vector<uint8_t> blob(size);
  ASSERT_EQ(RegQueryValueExW(key, u"Blob", nullptr, &type, blob.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_GE(blob.size(), 12 + der.size());
  const size_t tail = blob.size() - der.size();
  EXPECT_EQ(std::vector<uint8_t>(blob.begin() + tail, blob.end()), der);
  EXPECT_EQ(blob[tail - 12], 32);  // property id of the certificate
  EXPECT_EQ(blob[tail - 8], 1);    // reserved
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

  store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"MY");
  PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(cert, nullptr);
  size = 0;
  ASSERT_TRUE(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  std::vector<uint8_t> buffer(size);
  DWORD short_size = size - 1;
  EXPECT_FALSE(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &short_size));
  EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
  ASSERT_TRUE(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
  const auto* read = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  EXPECT_EQ(std::u16string(read->pwszContainerName), u"\u5bb9\u5668 name");
  EXPECT_EQ(std::u16string(read->pwszProvName), u"Vendor CSP");
  EXPECT_EQ(read->dwProvType, 1u);
  EXPECT_EQ(read->dwKeySpec, AT_SIGNATURE);
  ASSERT_EQ(read->cProvParam, 1u);
  EXPECT_EQ(read->rgProvParam[0].dwParam, 7u);
  EXPECT_EQ(std::vector<uint8_t>(read->rgProvParam[0].pbData, read->rgProvParam[0].pbData + 3),
            (std::vector<uint8_t>{1, 2, 3}));

  // Removing the property, then the certificate.
  ASSERT_TRUE(CertSetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
  EXPECT_FALSE(CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  HCRYPTPROV provider = 0;
  EXPECT_FALSE(CryptAcquireCertificatePrivateKey(cert, 0, nullptr, &provider, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NO_KEY_PROPERTY));
  ASSERT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(cert)));
  (void)CertFreeCertificateContext(cert);
  ASSERT_TRUE(CertCloseStore(store, 0));
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
}

// A root written straight into the registry, as trust-anchor provisioning
// does, is a certificate of the machine's ROOT store.
TEST_F(CertStoreTest, RootWrittenIntoTheRegistryAppearsInTheRootStore) {
  const auto der = factory_.Make("Root", 20);
  PCCERT_CONTEXT probe = CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size()));
  const std::string thumbprint = ThumbprintOf(probe);
  (void)CertFreeCertificateContext(probe);
  // Property 3 (20 bytes of hash) first, then property 32.
  std::vector<uint8_t> blob = {3, 0, 0, 0, 1, 0, 0, 0, 20, 0, 0, 0};
  blob.insert(blob.end(), 20, 0xAB);
  const auto size = static_cast<uint32_t>(der.size());
  blob.insert(blob.end(), {32, 0, 0, 0, 1, 0, 0, 0, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), 0, 0});
  blob.insert(blob.end(), der.begin(), der.end());

  // The key is opened, not created: every machine has it.
  HKEY root;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates", 0,
                          KEY_ALL_ACCESS, &root),
            ERROR_SUCCESS);
  HKEY entry;
  const std::u16string name(thumbprint.begin(), thumbprint.end());
  ASSERT_EQ(RegCreateKeyExW(root, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &entry, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(entry, u"Blob", 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size())),
            ERROR_SUCCESS);
  // A broken entry beside it is passed over.
  HKEY broken;
  ASSERT_EQ(RegCreateKeyExW(root, u"0000000000000000000000000000000000000000", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &broken, nullptr),
            ERROR_SUCCESS);
  const BYTE junk[] = {32, 0, 0, 0, 1, 0, 0, 0, 200, 0, 0, 0, 0x30};
  ASSERT_EQ(RegSetValueExW(broken, u"Blob", 0, REG_BINARY, junk, sizeof(junk)), ERROR_SUCCESS);
  for (HKEY k : {entry, broken, root}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);

  HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_LOCAL_MACHINE, u"ROOT");
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(cert, nullptr);
  EXPECT_EQ(std::vector<uint8_t>(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded), der);
  BYTE hash[20];
  DWORD hash_size = sizeof(hash);
  ASSERT_TRUE(CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &hash_size));
  EXPECT_EQ(hash[0], 0xAB);  // the stored property, as written
  EXPECT_EQ(CertEnumCertificatesInStore(store, cert), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  ASSERT_TRUE(CertCloseStore(store, 0));
  // The user's ROOT is another place.
  store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"ROOT");
  EXPECT_TRUE(ListThumbprints(store).empty());
  ASSERT_TRUE(CertCloseStore(store, 0));

  // Deleting the registry key removes the root from the store.
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT\\Certificates", 0,
                          KEY_ALL_ACCESS, &root),
            ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(root, name.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(root, name.c_str()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegCloseKey(root), ERROR_SUCCESS);
  store = OpenSystem(CERT_SYSTEM_STORE_LOCAL_MACHINE, u"ROOT");
  EXPECT_TRUE(ListThumbprints(store).empty());
  ASSERT_TRUE(CertCloseStore(store, 0));
}

TEST_F(CertStoreTest, StoreNamesAreData) {
  const std::u16string long_name(255, u'n');
  const std::u16string unpaired = u"x\xD800y";
  const std::vector<std::u16string> accepted = {u"Store\"'; DROP TABLE registry_keys; --", u"..", u"/etc/passwd",
                                                unpaired, u"\u540d\u5b57 %s %n", long_name, u"CA"};
  uint64_t serial = 100;
  for (const auto& name : accepted) {
    const auto der = factory_.Make("Name", serial++);
    HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, name.c_str());
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(AddEncoded(store, der, CERT_STORE_ADD_NEW));
    ASSERT_TRUE(CertCloseStore(store, 0));
  }
  for (const auto& name : accepted) {
    HCERTSTORE store = OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, name.c_str(), CERT_STORE_OPEN_EXISTING_FLAG);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(ListThumbprints(store).size(), 1u);
    ASSERT_TRUE(CertCloseStore(store, 0));
  }
  for (const std::u16string& name : {std::u16string(), std::u16string(u"MY\\Certificates"), long_name + u"n"}) {
    EXPECT_EQ(OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, name.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  // 8-bit names are UTF-8 or refused.
  HCERTSTORE narrow = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, kEncoding, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                    "\xE5\x90\x8D\xE5\xAD\x97 %s %n");
  ASSERT_NE(narrow, nullptr);
  EXPECT_EQ(ListThumbprints(narrow).size(), 1u);  // the same store as its UTF-16 name
  ASSERT_TRUE(CertCloseStore(narrow, 0));
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_A, kEncoding, 0, CERT_SYSTEM_STORE_CURRENT_USER, "M\xFFY"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenSystem(CERT_SYSTEM_STORE_CURRENT_USER, u"Never", CERT_STORE_OPEN_EXISTING_FLAG), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenSystem(0x00040000, u"MY"), nullptr);  // a location this platform does not keep
}

TEST_F(CertStoreTest, MemoryStoreDispositionsAndContextCopies) {
  const auto a = factory_.Make("A", 1);
  HCERTSTORE memory = CertOpenStore(CERT_STORE_PROV_MEMORY, kEncoding, 0, 0, nullptr);
  ASSERT_NE(memory, nullptr);
  PCCERT_CONTEXT standalone = CertCreateCertificateContext(kEncoding, a.data(), static_cast<DWORD>(a.size()));
  const CRYPT_DATA_BLOB name{4, const_cast<BYTE*>(reinterpret_cast<const BYTE*>(u"Fn"))};
  ASSERT_TRUE(CertSetCertificateContextProperty(standalone, CERT_FRIENDLY_NAME_PROP_ID, 0, &name));
  PCCERT_CONTEXT first = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(memory, standalone, CERT_STORE_ADD_USE_EXISTING, &first));
  EXPECT_NE(first, standalone);  // the store holds its own copy, properties included
  EXPECT_EQ(first->hCertStore, memory);
  DWORD size = 0;
  EXPECT_TRUE(CertGetCertificateContextProperty(first, CERT_FRIENDLY_NAME_PROP_ID, nullptr, &size));
  EXPECT_EQ(size, 4u);
  PCCERT_CONTEXT again = nullptr;
  ASSERT_TRUE(CertAddCertificateContextToStore(memory, standalone, CERT_STORE_ADD_USE_EXISTING, &again));
  EXPECT_EQ(again, first);
  EXPECT_FALSE(CertAddCertificateContextToStore(memory, standalone, CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_EXISTS));
  ASSERT_TRUE(CertAddCertificateContextToStore(memory, standalone, CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(ListThumbprints(memory).size(), 2u);
  EXPECT_FALSE(CertAddCertificateContextToStore(memory, standalone, 99, nullptr));

  // Deleting during an enumeration: the enumeration goes on after it.
  PCCERT_CONTEXT c = CertEnumCertificatesInStore(memory, nullptr);
  ASSERT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(c)));
  c = CertEnumCertificatesInStore(memory, c);
  EXPECT_NE(c, nullptr);
  EXPECT_EQ(ListThumbprints(memory).size(), 1u);

  // Contexts outlive the store they came from; the check flag says so.
  EXPECT_FALSE(CertCloseStore(memory, CERT_CLOSE_STORE_CHECK_FLAG));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_PENDING_CLOSE));
  EXPECT_FALSE(CertCloseStore(memory, 0));  // closed all the same
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(c->hCertStore, memory);
  (void)CertFreeCertificateContext(c);
  EXPECT_EQ(first->pCertInfo->SerialNumber.pbData[0], 1);
  (void)CertFreeCertificateContext(first);
  (void)CertFreeCertificateContext(again);
  (void)CertFreeCertificateContext(standalone);
}

TEST_F(CertStoreTest, StaleAndForgedHandlesAreRefused) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_MEMORY, kEncoding, 0, 0, nullptr);
  ASSERT_TRUE(CertCloseStore(store, 0));
  const auto der = factory_.Make("H", 1);
  for (HCERTSTORE bad : {store, reinterpret_cast<HCERTSTORE>(uintptr_t{0x1234}),
                         reinterpret_cast<HCERTSTORE>(uintptr_t{0xDEADBEEF})}) {
    EXPECT_FALSE(CertCloseStore(bad, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CertEnumCertificatesInStore(bad, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(AddEncoded(bad, der, CERT_STORE_ADD_NEW));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  CERT_CONTEXT forged{};
  EXPECT_FALSE(CertDeleteCertificateFromStore(&forged));
  EXPECT_EQ(CertDuplicateCertificateContext(&forged), nullptr);
  EXPECT_TRUE(CertFreeCertificateContext(&forged));
  DWORD size = 0;
  EXPECT_FALSE(CertGetCertificateContextProperty(&forged, CERT_SHA1_HASH_PROP_ID, nullptr, &size));
  EXPECT_EQ(CertGetNameStringW(&forged, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0), 1u);
}

TEST_F(CertStoreTest, Pkcs7BundleFromOpensslOpensAsAStore) {
  TempDir dir;
  const OpensslCert a = MakeOpensslCert(dir, "a", "/C=CN/O=Bank/CN=CA One", "1");
  const OpensslCert b = MakeOpensslCert(dir, "b", "/C=CN/O=Bank/CN=CA Two", "2");
  const OpensslCert c = MakeOpensslCert(dir, "c", "/C=CN/O=Bank/CN=CA Three", "3");
  const CommandResult bundled = RunCommand(
      "openssl crl2pkcs7 -nocrl -certfile a.pem -certfile b.pem -certfile c.pem -outform DER -out bundle.p7b",
      dir.path());
  ASSERT_EQ(bundled.exit_code, 0) << bundled.output;
  std::vector<uint8_t> bundle = ReadFileBytes(dir.File("bundle.p7b"));
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bundle.size()), bundle.data()};
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, CERT_STORE_READONLY_FLAG, &blob);
  ASSERT_NE(store, nullptr);
  std::vector<std::vector<uint8_t>> found;
  for (PCCERT_CONTEXT cert = CertEnumCertificatesInStore(store, nullptr); cert != nullptr;
       cert = CertEnumCertificatesInStore(store, cert)) {
    found.emplace_back(cert->pbCertEncoded, cert->pbCertEncoded + cert->cbCertEncoded);
  }
  EXPECT_EQ(found, (std::vector<std::vector<uint8_t>>{a.der, b.der, c.der}));
  EXPECT_FALSE(AddEncoded(store, a.der, CERT_STORE_ADD_NEW));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(CertCloseStore(store, 0));

  // A certificate is not a bundle; a cut bundle is refused.
  CRYPT_DATA_BLOB not_bundle{static_cast<DWORD>(a.der.size()), const_cast<BYTE*>(a.der.data())};
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, &not_bundle), nullptr);
  blob.cbData -= 1;
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, &blob), nullptr);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, nullptr), nullptr);
}

}  // namespace
}  // namespace tessaline::test
