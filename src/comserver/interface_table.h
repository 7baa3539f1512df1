// Table-driven QueryInterface for the module's objects.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace orvex {

// Resolves one row: fills *out (with a reference added) or fails.
using InterfaceResolver = HRESULT (*)(void* object, REFIID iid, void** out, DWORD value);

// The resolver of a row whose value is the byte offset of the interface
// pointer within the object. A real function rather than a marker value, so
// that tables stay constant data with no start-up code.
HRESULT OffsetResolver(void* object, REFIID iid, void** out, DWORD value);

struct InterfaceTableEntry {
  const IID* iid;  // null: the row is tried for every request
  DWORD value;
  InterfaceResolver resolver;  // null ends the table
};

// QueryInterface over table; the first row (an offset row) answers IUnknown.
HRESULT FindInterface(void* object, const InterfaceTableEntry* table, REFIID iid, void** out);

}  // namespace orvex
