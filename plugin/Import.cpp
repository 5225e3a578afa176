// Unit Import: file check, information text, full and preview images.
#include "TargaPlugin.h"
#include "Boundary.h"

namespace {
const int32_t kInterfaceVersion = 0x00010000;
}

extern "C" {

void TLP_CALL IMPORT_InterfaceVersion(int32_t *version) { *version = kInterfaceVersion; }

int32_t TLP_CALL IMPORT_SupportedExtensions(InfoCallback callback) { return callback("tga"); }

int32_t TLP_CALL IMPORT_ValidFileCheck(const char *) { return 0; }

void TLP_CALL IMPORT_ImageInformation(const char *, InfoCallback) {}

void TLP_CALL IMPORT_CreateImage(const char *, HostImage **image) { *image = nullptr; }

void TLP_CALL IMPORT_CreatePreviewImage(const char *, int32_t, int32_t, HostImage **image) {
  *image = nullptr;
}

void TLP_CALL IMPORT_FreeImage(HostImage *) {}

} // extern "C"
