// Where the sample setup package installs the sample viewer: the class
// identifier it registers the viewer module under, and the module's place below
// the Program Files folder.
#pragma once

namespace orvex::test {

// HKCR\CLSID\<kSampleViewerClsid>\InprocServer32 names the installed module.
constexpr char kSampleViewerClsid[] = "{6F1E2D3C-4B5A-4978-8A9B-0C1D2E3F4A5B}";

// The package installs the viewer only for this product (letter case aside).
constexpr char kSampleViewerProduct[] = "Quillon";

// <Program Files>\Brindlewood\Quillon\QuillonViewer.dll
constexpr char kSampleViewerFolder[] = "Brindlewood\\Quillon";
constexpr char kSampleViewerFile[] = "QuillonViewer.dll";

}  // namespace orvex::test
