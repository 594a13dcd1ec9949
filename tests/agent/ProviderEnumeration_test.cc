// The provider list and provider parameters, over catalogs arranged by the
// test: scripted providers stand in for installed ones.
#include "Tessaline/ProviderEnumeration.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Tessaline/CryptoAgent.h"
#include "platform/crypt/Crypt.h"
#include "platform/crypt/ProviderCatalog.h"
#include "platform/crypt/SoftwareProvider.h"

namespace tessaline {
namespace {

using crypt::ProviderCatalog;

// An RSA software provider whose enumeration entry or PP_NAME answer can be
// made to fail or to come back empty.
class ScriptedProvider : public crypt::SoftwareProvider {
 public:
  explicit ScriptedProvider(std::u16string name) : SoftwareProvider(std::move(name), PROV_RSA_FULL, crypt::Flavor::kRsa) {}

  DWORD fail_size_query = 0;  // error for the enumeration's size query
  DWORD fail_name_read = 0;   // error for the enumeration's second call
  bool empty_name_param = false;

  DWORD BeforeCall(const crypt::CallRecord& call) override {
    if (call.call != crypt::Call::kEnumProviders) return 0;
    return call.size_query ? fail_size_query : fail_name_read;
  }
  DWORD GetProvParam(crypt::Context& context, DWORD param, BYTE* data, DWORD* length, DWORD flags) override {
    if (param == PP_NAME && empty_name_param) {
      *length = 0;
      return 0;
    }
    return SoftwareProvider::GetProvParam(context, param, data, length, flags);
  }
};

class ProviderEnumeration : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& provider : ProviderCatalog::Providers()) ProviderCatalog::RemoveForTesting(provider->name());
  }
  void TearDown() override { ProviderCatalog::ResetForTesting(); }

  std::shared_ptr<ScriptedProvider> Add(const char16_t* name) {
    auto provider = std::make_shared<ScriptedProvider>(name);
    ProviderCatalog::RegisterForTesting(provider);
    return provider;
  }
};

TEST_F(ProviderEnumeration, ListsNamesInOrder) {
  std::u16string list = u"unchanged";
  ASSERT_EQ(GetAllCSPName(&list), S_OK);
  EXPECT_EQ(list, u"");

  Add(u"A");
  Add(u"B with spaces");
  Add(u"C");
  ASSERT_EQ(GetAllCSPName(&list), S_OK);
  EXPECT_EQ(list, u"A||B with spaces||C");
}

TEST_F(ProviderEnumeration, SkipsAnEntryWhoseSizeCannotBeRead) {
  Add(u"A");
  Add(u"B")->fail_size_query = ERROR_ACCESS_DENIED;
  Add(u"C");
  std::u16string list;
  ASSERT_EQ(GetAllCSPName(&list), S_OK);
  EXPECT_EQ(list, u"A||C");
}

TEST_F(ProviderEnumeration, FailsWhenANameCannotBeRead) {
  Add(u"A");
  Add(u"B")->fail_name_read = ERROR_ACCESS_DENIED;
  std::u16string list = u"unchanged";
  EXPECT_EQ(GetAllCSPName(&list), E_ACCESSDENIED);
  EXPECT_EQ(list, u"unchanged");
}

TEST_F(ProviderEnumeration, AgentRecordsAFailedListAndHandsNothingOver) {
  Add(u"A")->fail_name_read = ERROR_ACCESS_DENIED;
  CCryptoAgent agent;
  std::u16string list = u"unchanged";
  EXPECT_EQ(agent.VEXA_GetCSPInfo(&list), E_ACCESSDENIED);
  EXPECT_EQ(list, u"unchanged");
  std::u16string description;
  ASSERT_EQ(agent.GetLastErrorDesc(&description), S_OK);
  EXPECT_NE(description.find(u"(0x80070005)"), std::u16string::npos);
}

TEST_F(ProviderEnumeration, ReadsProviderParameters) {
  auto provider = Add(u"Scripted");
  HCRYPTPROV handle = 0;
  ASSERT_TRUE(CryptAcquireContextW(&handle, nullptr, u"Scripted", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));

  std::vector<BYTE> data;
  DWORD length = 0;
  ASSERT_EQ(GetProviderInfo(handle, PP_NAME, &data, &length), S_OK);
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string("Scripted\0", 9));

  // A verify context has no container to name.
  std::vector<BYTE> container = {1};
  EXPECT_EQ(GetProviderInfo(handle, PP_CONTAINER, &container, nullptr), NTE_BAD_KEYSET);
  EXPECT_EQ(container, std::vector<BYTE>{1});

  provider->empty_name_param = true;
  EXPECT_EQ(GetProviderInfo(handle, PP_NAME, &container, nullptr), E_FAIL);
  EXPECT_EQ(container, std::vector<BYTE>{1});

  EXPECT_TRUE(CryptReleaseContext(handle, 0));
  EXPECT_EQ(GetProviderInfo(handle, PP_NAME, &container, nullptr), HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE));
}

}  // namespace
}  // namespace tessaline
