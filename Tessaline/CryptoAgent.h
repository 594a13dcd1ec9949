// CCryptoAgent: the one object through which the host program and the
// plug-in reach the certificate functions. It keeps the page's settings
// (provider, key length, key algorithm), the container of the last request
// and the result of the last recorded operation for its whole life.
//
// Every operation returns a result code and writes its out value only on
// success. Boolean out values are VARIANT_TRUE (-1) or left as the caller
// set them. Not thread-safe: each deliverable calls it from one thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/base/Result.h"
#include "platform/base/Types.h"

namespace tessaline {

class CCryptoAgent {
 public:
  CCryptoAgent();
  CCryptoAgent(const CCryptoAgent&) = delete;
  CCryptoAgent& operator=(const CCryptoAgent&) = delete;

  // The twelve operations, in their fixed slot order (both deliverables
  // depend on it). Wide inputs are NUL-terminated UTF-16; null means the
  // argument is missing.

  // 0: the installed providers' names joined by "||".
  virtual HRESULT VEXA_GetCSPInfo(std::u16string* pbstrCSPInfo);
  // 1: chooses the provider and key length for later requests.
  virtual HRESULT VEXA_SetCSPInfo(int32_t nKeyLength, const char16_t* bstrCSPName, VARIANT_BOOL* pbResult);
  // 2: chooses "RSA" or "SM2" (any letter case).
  virtual HRESULT VEXA_SetKeyAlgorithm(const char16_t* bstrKeyAlgorithm, VARIANT_BOOL* pbResult);
  // 3: the container of the last generated request or encryption import.
  virtual HRESULT VEXA_GetContainer(std::u16string* pbstrContainer);
  // 4: binds an issued signing certificate to its key.
  virtual HRESULT VEXA_ImportSignCert(int32_t lCertType, const char16_t* bstrSignCert,
                                      const char16_t* bstrContainerName, VARIANT_BOOL* pbResult);
  // 5: installs the encryption key pair and certificate.
  virtual HRESULT VEXA_ImportEncryptCert(const char16_t* bstrEncryptedPrivateKey,
                                         const char16_t* bstrEncryptPublicCert, const char16_t* bstrContainerName,
                                         int32_t nEncryptCertPrivateKeyFlags, VARIANT_BOOL* pbResult);
  // 6: generates a key pair and a Base64 PKCS#10 request (SHA-1 or SM3).
  virtual HRESULT VEXA_PKCS10CertRequisition(const char16_t* bstrSubjectDN, int32_t lCertType,
                                             int32_t nSignPrivateKeyGenerateFlags, std::u16string* pbstrRequest);
  // 7: the user's certificates of the given providers ("||"-separated).
  virtual HRESULT VEXA_GetAllCertInfo(const char16_t* bstrCSPName, std::u16string* pbstrCertInfo);
  // 8: whether this user may generate key pairs.
  virtual HRESULT VEXA_HavePermissiontoGenerateKeyPair(VARIANT_BOOL* pbResult);
  // 9: "3.2.0.3".
  virtual HRESULT VEXA_GetVersion(std::u16string* pbstrVersion);
  // 10: as slot 6, signed with MD5.
  virtual HRESULT VEXA_PKCS10CertRequisitionwithMD5(const char16_t* bstrSubjectDN, int32_t lCertType,
                                                    int32_t nSignPrivateKeyGenerateFlags,
                                                    std::u16string* pbstrRequest);
  // 11: the text of the last recorded result code.
  virtual HRESULT GetLastErrorDesc(std::u16string* pbstrDesc);

  virtual ~CCryptoAgent();

 protected:
  // Stores RESULT as the last error code and returns it.
  HRESULT Record(HRESULT result) {
    last_error_ = result;
    return result;
  }

  // The state the operations share, in this order.
  HRESULT last_error_ = S_OK;
  std::u16string key_algorithm_;
  std::u16string provider_name_;
  int32_t key_length_ = 0;
  std::u16string container_name_;
  // Dual-algorithm enrolment (certificate type 3): the containers of its
  // first (RSA) and second (SM2 signing) imports, and a failure of the first
  // import held back until the next call of the sequence.
  std::u16string first_pending_container_;
  std::u16string second_pending_container_;
  HRESULT deferred_import_result_ = S_OK;
};

}  // namespace tessaline
