// Unit United: what the plug-in says about itself, and the load and unload
// notifications.
#include "TargaPlugin.h"
#include "Boundary.h"
#include "Expoptf.h"
#include "Settings.h"
#include "TargaVersion.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The version and the copyright come from the build, which puts the same in
// the library's version resource.
const uint32_t kVerboseVersion = TLP_VERSION_VALUE;
const char kName[] = "Targa";
const char kCopyright[] = TLP_COPYRIGHT;
// "TOLVA 標準搭載の I/E プラグイン。\n TGA(Targa)ファイルの作成と回覧をサポートする。"
// in code page 932; 81 bytes.
const char kDescription[] =
    "TOLVA \x95W\x8f\x80\x93\x8b\x8d\xda\x82\xcc I/E \x83v\x83\x89\x83O\x83"
    "C\x83\x93\x81"
    "B\n TGA(Targa)\x83t\x83@\x83"
    "C\x83\x8b\x82\xcc\x8d\xec\x90\xac\x82\xc6\x89\xf1\x97\x97\x82\xf0\x83T\x83|\x81[\x83g\x82\xb7\x82\xe9\x81"
    "B";
static_assert(sizeof(kDescription) - 1 == 81, "description is 81 bytes");

} // namespace

extern "C" {

void TLP_CALL PLUGINCALLBACK(uint32_t) { tlp::Guarded([] { LoadConversionMethod(); }); }

// The host unloads the library next: the panels still there go now, and so
// does their window class (a library's classes outlive it otherwise). A panel
// of another thread cannot be destroyed from here; it is cut loose, and its
// class stays registered and keeps the library loaded.
void TLP_CALL PLUGOUTCALLBACK(void) {
  tlp::Guarded([] { SaveConversionMethod(); });
  tlp::Guarded([] { FreeOptionPanels(); });
}

void TLP_CALL UNITED_SupportedInformation(int32_t *first, int32_t *second) {
  *first = 1;
  *second = 1;
}

int32_t TLP_CALL UNITED_Verbose(VerboseCallback callback) {
  return callback(kVerboseVersion, kName, kCopyright, kDescription);
}

#if defined(_WIN32)
// The plug-in prepares nothing at load and does nothing at unload: window
// work under the loader lock can deadlock. Its panels go in PLUGOUTCALLBACK,
// and while their window class is registered it holds a reference to the
// library, so that no window is ever left calling into an unloaded module.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif

} // extern "C"
