// The registry script interpreter: the control module describes every registry
// key and value it needs as a text resource of type "REGISTRY", and this writes
// them (registration) or removes them again (unregistration).
//
// The script is 8-bit text in the process code page. "%name%" is replaced by a
// bound value before anything is read ("%%" stands for one '%'). Then:
//
//   script     := root-block*
//   root-block := root-name '{' item* '}'
//   item       := ['ForceRemove' | 'NoRemove' | 'Delete'] key-name [value-clause] ['{' item* '}']
//               | 'Val' value-name value-clause
//   value-clause := '=' ('S' | 'D' | 'B') value
//
// Tokens are separated by blanks (space, tab, line feed, carriage return); a
// token in apostrophes may hold blanks, braces and '=', and two apostrophes
// inside it stand for one. Keywords, root names and types are compared without
// regard to case. Failures are reported as HRESULTs; DISP_E_EXCEPTION means a
// script that does not follow the format.
#pragma once

#include <windows.h>

namespace orvex {

// A name bound for "%name%"; arrays of pairs end with a null name.
struct SubstitutionPair {
  const wchar_t* name;
  const wchar_t* value;
};

// Longest token text: a quoted token holds at most 4094 bytes, any other 4095.
constexpr SIZE_T kScriptTokenBufferSize = 4096;
// Longest value name after "Val", in bytes.
constexpr SIZE_T kScriptValueNameLimit = 259;
// Deepest nesting of blocks within a root block.
constexpr int kScriptBlockDepthLimit = 512;

// Registers (registerFlag non-zero) or unregisters what the script text
// (NUL-terminated) describes, with the given pairs bound (may be null; of two
// pairs with one name the first counts). During registration the root block
// that fails is read again as an unregistration, so what it wrote is removed
// before the failure is returned.
HRESULT RunRegistryScriptText(const char* text, BOOL registerFlag, const SubstitutionPair* substitutions);

}  // namespace orvex
