#include "check_host.h"

#include <oleauto.h>

#include "control_module.h"
#include "orvex_installer_h.h"

namespace orvex::test {

namespace {
// An export of the module as the function type it has; void (*)() is the
// generic function type that every exported function passes through.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  const FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
  return found != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found)) : nullptr;
}
}  // namespace

ControlHost::ControlHost(Plan plan) : plan_(std::move(plan)) { Start("Control host", 20000); }

// A plan that has not ended when its host goes is a test that failed already.
ControlHost::~ControlHost() { Join(60000, "a control host"); }

HRESULT ControlHost::SetInfo(const std::wstring& info) {
  IOrvexInstallerCtl* control = nullptr;
  HRESULT result = E_UNEXPECTED;
  if (factory_ != nullptr &&
      SUCCEEDED(factory_->CreateInstance(nullptr, IID_IOrvexInstallerCtl, reinterpret_cast<void**>(&control))) &&
      control != nullptr) {
    BSTR value = ::SysAllocStringLen(info.data(), static_cast<UINT>(info.size()));
    result = control->put_Info(value);
    ::SysFreeString(value);
    if (control->Release() != 0) ++leakedControls_;
  }
  lastResult_ = result;
  return result;
}

DWORD ControlHost::Outcome() const {
  const std::vector<std::string> events = Events();
  const bool first = events == kFirstInstallationEvents;
  const bool failed = !moduleLoaded_ || lastResult_ != S_OK || leakedControls_ != 0 || !WindowWasActive();
  return (first ? 1 : 0) | (!first && !events.empty() ? 2 : 0) | (LeftIconic() ? 4 : 0) | (LeftDisabled() ? 8 : 0) |
         (failed ? 16 : 0);
}

void ControlHost::Work() {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HMODULE module = ::LoadLibraryA(ControlModulePath().c_str());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  const auto getClassObject = Export<GetClassObject>(module, "DllGetClassObject");
  if (getClassObject != nullptr) {
    getClassObject(CLSID_OrvexInstallerCtl, IID_IClassFactory, reinterpret_cast<void**>(&factory_));
  }
  moduleLoaded_ = factory_ != nullptr;

  if (plan_.ready != nullptr) ::SetEvent(plan_.ready);
  if (plan_.gate != nullptr && ::WaitForSingleObject(plan_.gate, kGateTimeoutMs) != WAIT_OBJECT_0) {
    lastResult_ = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  } else if (plan_.body) {
    plan_.body(*this);
  } else {
    SetInfo(plan_.info);
  }

  if (factory_ != nullptr) factory_->Release();
  factory_ = nullptr;
  const auto canUnloadNow = Export<HRESULT(STDAPICALLTYPE*)()>(module, "DllCanUnloadNow");
  if (canUnloadNow != nullptr) canUnloadAtEnd_ = canUnloadNow();
  if (module != nullptr) ::FreeLibrary(module);
  if (SUCCEEDED(com)) ::CoUninitialize();
}

}  // namespace orvex::test
