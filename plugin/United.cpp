// Unit United: what the plug-in says about itself, and the load and unload
// notifications.
#include "TargaPlugin.h"
#include "Boundary.h"
#include "Expoptf.h"
#include "Settings.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

const uint32_t kVerboseVersion = 0x01000000;
const char kName[] = "Targa";
const char kCopyright[] = "Copyright (c) 2026 The Targa plug-in authors";
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

void TLP_CALL PLUGOUTCALLBACK(void) { tlp::Guarded([] { SaveConversionMethod(); }); }

void TLP_CALL UNITED_SupportedInformation(int32_t *first, int32_t *second) {
  *first = 1;
  *second = 1;
}

int32_t TLP_CALL UNITED_Verbose(VerboseCallback callback) {
  return callback(kVerboseVersion, kName, kCopyright, kDescription);
}

#if defined(_WIN32)
// The plug-in prepares nothing at load; every notification is accepted. When
// the host unloads the library, options panels not yet released go with it,
// and so does their window class (a DLL's classes outlive it otherwise). When
// the process ends they go with the process.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr)
    tlp::Guarded([] { FreeOptionPanels(); });
  return TRUE;
}
#endif

} // extern "C"
