#include "type_info_holder.h"

#include "orvex_installer_h.h"
#include "server_module.h"

namespace orvex {

namespace {

constexpr UINT kMaxMembers = 16;
constexpr LCID kLibraryLocale = 0x0409;

struct MemberName {
  BSTR name;
  UINT length;
  DISPID id;
};

// Plain data, constant-initialised: no start-up code.
ITypeInfo* typeInfo = nullptr;
MemberName members[kMaxMembers];
UINT memberCount = 0;

void ReleaseTypeInfo(DWORD) {
  for (UINT i = 0; i < memberCount; ++i) ::SysFreeString(members[i].name);
  memberCount = 0;
  if (typeInfo != nullptr) typeInfo->Release();
  typeInfo = nullptr;
}

void BuildMemberTable(ITypeInfo* info) {
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) return;
  for (UINT i = 0; i < attributes->cFuncs && memberCount < kMaxMembers; ++i) {
    FUNCDESC* function = nullptr;
    if (FAILED(info->GetFuncDesc(i, &function))) continue;
    BSTR name = nullptr;
    UINT names = 0;
    if (SUCCEEDED(info->GetNames(function->memid, &name, 1, &names)) && names == 1) {
      bool known = false;
      for (UINT j = 0; j < memberCount; ++j) known = known || members[j].id == function->memid;
      if (known) {
        ::SysFreeString(name);  // a property's get and put share one name
      } else {
        members[memberCount++] = {name, ::SysStringLen(name), function->memid};
      }
    }
    info->ReleaseFuncDesc(function);
  }
  info->ReleaseTypeAttr(attributes);
}

}  // namespace

HRESULT ControlTypeInfo(LCID locale, ITypeInfo** info) {
  *info = nullptr;
  ServerModule* module = CurrentModule();
  ::EnterCriticalSection(&module->typeInfoLock);
  HRESULT result = S_OK;
  if (typeInfo == nullptr) {
    ITypeLib* library = nullptr;
    result = ::LoadRegTypeLib(LIBID_ORVEXINSTALLERLib, 1, 0, locale, &library);
    // A caller's locale the library is not registered under (a neutral or
    // default one) finds it under its own, US English.
    if (FAILED(result)) result = ::LoadRegTypeLib(LIBID_ORVEXINSTALLERLib, 1, 0, kLibraryLocale, &library);
    if (SUCCEEDED(result)) {
      ITypeInfo* loaded = nullptr;
      result = library->GetTypeInfoOfGuid(IID_IOrvexInstallerCtl, &loaded);
      library->Release();
      if (SUCCEEDED(result)) {
        result = AddStopCallback(ReleaseTypeInfo, 0);
        if (SUCCEEDED(result)) {
          typeInfo = loaded;
          BuildMemberTable(loaded);
        } else {
          loaded->Release();
        }
      }
    }
  }
  *info = typeInfo;
  ::LeaveCriticalSection(&module->typeInfoLock);
  return *info != nullptr ? S_OK : result;
}

HRESULT ControlIdsOfNames(LPOLESTR* names, UINT count, LCID locale, DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_POINTER;
  ITypeInfo* info = nullptr;
  const HRESULT loaded = ControlTypeInfo(locale, &info);
  if (FAILED(loaded)) return loaded;
  HRESULT result = S_OK;
  for (UINT i = 0; i < count; ++i) {
    const UINT length = names[i] != nullptr ? static_cast<UINT>(::lstrlenW(names[i])) : 0;
    ids[i] = DISPID_UNKNOWN;
    bool found = false;
    for (UINT j = 0; j < memberCount && !found; ++j) {
      if (members[j].length == length && ::CompareStringOrdinal(members[j].name, static_cast<int>(length), names[i],
                                                                static_cast<int>(length), FALSE) == CSTR_EQUAL) {
        ids[i] = members[j].id;
        found = true;
      }
    }
    if (!found && FAILED(info->GetIDsOfNames(&names[i], 1, &ids[i]))) result = DISP_E_UNKNOWNNAME;
  }
  return result;
}

}  // namespace orvex
