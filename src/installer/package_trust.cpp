#include "package_trust.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>

namespace orvex {

namespace {

constexpr DWORD kNameSize = 256;

// Whether the certificate's attribute (by object identifier) names publisher.
// A name longer than the buffer is cut by the call, and so taken for none.
bool AttributeIs(PCCERT_CONTEXT certificate, const char* oid, const wchar_t* publisher) {
  wchar_t value[kNameSize] = {};
  const DWORD length = ::CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(oid), value,
                                            kNameSize);
  return length > 1 && length < kNameSize && IsPublisherName(value, publisher);
}

// The verification state of one file, closed on every path.
class TrustCheck {
 public:
  TrustCheck(HANDLE file, const wchar_t* path) {
    file_.cbStruct = sizeof(file_);
    file_.pcwszFilePath = path;
    file_.hFile = file;
    data_.cbStruct = sizeof(data_);
    data_.dwUIChoice = WTD_UI_NONE;
    data_.fdwRevocationChecks = WTD_REVOKE_NONE;
    data_.dwUnionChoice = WTD_CHOICE_FILE;
    data_.pFile = &file_;
    data_.dwStateAction = WTD_STATEACTION_VERIFY;
    result_ = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  ~TrustCheck() {
    data_.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action_, &data_);
  }
  TrustCheck(const TrustCheck&) = delete;
  TrustCheck& operator=(const TrustCheck&) = delete;

  bool Verified() const { return result_ == ERROR_SUCCESS; }

  // The certificate of the first signer, owned by the check's state.
  PCCERT_CONTEXT SignerCertificate() const {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
    if (provider == nullptr) return nullptr;
    CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) return nullptr;
    return signer->pasCertChain[0].pCert;
  }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO file_ = {};
  WINTRUST_DATA data_ = {};
  LONG result_ = TRUST_E_NOSIGNATURE;
};

}  // namespace

bool IsPublisherName(const wchar_t* stated, const wchar_t* publisher) {
  return stated != nullptr && publisher != nullptr && std::wcscmp(stated, publisher) == 0;
}

bool PackageIsTrusted(HANDLE file, const char* path, const wchar_t* publisher) {
  if (publisher == nullptr || publisher[0] == '\0') return true;
  wchar_t widePath[MAX_PATH];
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) return false;
  TrustCheck check(file, widePath);
  if (!check.Verified()) return false;
  PCCERT_CONTEXT certificate = check.SignerCertificate();
  if (certificate == nullptr) return false;
  return AttributeIs(certificate, szOID_COMMON_NAME, publisher) ||
         AttributeIs(certificate, szOID_ORGANIZATION_NAME, publisher);
}

}  // namespace orvex
