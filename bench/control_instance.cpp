#include "control_instance.h"

#include <cstdio>

#include "bench_setup.h"

namespace orvex::bench {

namespace {

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

std::string HresultText(const char* what, HRESULT result) {
  char text[96];
  std::snprintf(text, sizeof(text), "%s failed: 0x%08lX", what, static_cast<unsigned long>(result));
  return text;
}

}  // namespace

ControlInstance::ControlInstance(const std::string& modulePath) {
  module_ = ::LoadLibraryA(modulePath.c_str());
  if (module_ == nullptr) {
    failure_ = "cannot load " + modulePath;
    return;
  }
  const auto getClassObject =
      reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
  if (getClassObject == nullptr) {
    failure_ = "the module exports no DllGetClassObject";
    return;
  }
  ComPtr<IClassFactory> factory;
  HRESULT result = getClassObject(CLSID_OrvexInstallerCtl, IID_IClassFactory, factory.OutVoid());
  if (FAILED(result) || !factory) {
    failure_ = HresultText("DllGetClassObject", result);
    return;
  }
  result = factory->CreateInstance(nullptr, IID_IOrvexInstallerCtl, control_.OutVoid());
  if (FAILED(result) || !control_) {
    control_.Reset();
    failure_ = HresultText("CreateInstance", result);
  }
}

ControlInstance::~ControlInstance() {
  control_.Reset();
  if (module_ != nullptr) ::FreeLibrary(module_);
}

std::string ControlModulePath() { return ProgramFolder() + "\\..\\OrvexInstaller.dll"; }

}  // namespace orvex::bench
