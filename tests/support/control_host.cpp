#include "control_host.h"

#include <oleauto.h>

#include "control_module.h"
#include "orvex_installer_h.h"

namespace orvex::test {

namespace {
constexpr DWORD kStartTimeoutMs = 20000;
// A plan that has not ended when its host goes is a test that failed already.
constexpr DWORD kEndTimeoutMs = 60000;

using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// An export of the module as the function type it has; void (*)() is the
// generic function type that every exported function passes through.
template <typename Function>
Function Export(HMODULE module, const char* name) {
  const FARPROC found = module != nullptr ? ::GetProcAddress(module, name) : nullptr;
  return found != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found)) : nullptr;
}

}  // namespace

ControlHost::ControlHost(Plan plan) : plan_(std::move(plan)) {
  started_ = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = ::CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
  if (thread_ != nullptr && started_ != nullptr) {
    const HANDLE either[] = {started_, thread_};
    ::WaitForMultipleObjects(2, either, FALSE, kStartTimeoutMs);
  }
}

ControlHost::~ControlHost() {
  if (thread_ != nullptr) {
    JoinHostThread(thread_, kEndTimeoutMs, "a control host");
    ::CloseHandle(thread_);
  }
  if (started_ != nullptr) ::CloseHandle(started_);
}

bool ControlHost::WaitDone(DWORD timeoutMs) {
  return thread_ != nullptr && ::WaitForSingleObject(thread_, timeoutMs) == WAIT_OBJECT_0 && done_;
}

std::vector<std::string> ControlHost::Events() const { return events_.Events(); }

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

void ControlHost::Run() {
  module_ = ::LoadLibraryA(ControlModulePath().c_str());
  const auto getClassObject = Export<GetClassObject>(module_, "DllGetClassObject");
  if (getClassObject != nullptr) {
    getClassObject(CLSID_OrvexInstallerCtl, IID_IClassFactory, reinterpret_cast<void**>(&factory_));
  }
  moduleLoaded_ = factory_ != nullptr;

  if (plan_.ready != nullptr) ::SetEvent(plan_.ready);
  if (plan_.gate != nullptr && ::WaitForSingleObject(plan_.gate, kGateTimeoutMs) != WAIT_OBJECT_0) {
    lastResult_ = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
  } else if (plan_.body != nullptr) {
    plan_.body(*this, plan_.context);
  } else {
    SetInfo(plan_.info);
  }

  if (factory_ != nullptr) factory_->Release();
  factory_ = nullptr;
  const auto canUnloadNow = Export<CanUnloadNow>(module_, "DllCanUnloadNow");
  if (canUnloadNow != nullptr) canUnloadAtEnd_ = canUnloadNow();
  if (module_ != nullptr) ::FreeLibrary(module_);
  module_ = nullptr;
}

DWORD WINAPI ControlHost::ThreadMain(void* param) {
  auto* self = static_cast<ControlHost*>(param);
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWND window = CreateHostWindow("Control host", &self->events_);
  self->window_ = window;
  self->windowWasActive_ = window != nullptr && ::GetActiveWindow() == window;
  self->events_.Start();
  ::SetEvent(self->started_);

  self->Run();

  self->events_.Stop();
  self->leftIconic_ = ::IsIconic(window) != FALSE;
  self->leftDisabled_ = ::IsWindowEnabled(window) == FALSE;
  self->done_ = true;
  DestroyHostWindow(window);
  if (SUCCEEDED(com)) ::CoUninitialize();
  return 0;
}

}  // namespace orvex::test
