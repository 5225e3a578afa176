// Unit Export: the options panel, the conversion code and writing files.
#include "TargaPlugin.h"
#include "Boundary.h"
#include "Etarga.h"
#include "Settings.h"

namespace {
const int32_t kInterfaceVersion = 0x00010000;
}

extern "C" {

void TLP_CALL EXPORT_InterfaceVersion(int32_t *version) { *version = kInterfaceVersion; }

int32_t TLP_CALL EXPORT_SupportedExtensions(InfoCallback callback) { return callback("tga"); }

void TLP_CALL EXPORT_EnterOption(void *, void *, uint32_t) {}

void TLP_CALL EXPORT_LeaveOption(int32_t) {}

void TLP_CALL EXPORT_BeforeTransform(int32_t *conversionCode, uint32_t) {
  if (auto code = HostConversionCode(ConversionMethod))
    *conversionCode = *code;
}

// One encoder per call; 1 for a written (or host-stopped) file, 0 otherwise.
int32_t TLP_CALL EXPORT_WriteToFile(const char *path, const HostImage *image,
                                    ProgressCallback progress) {
  return tlp::Guarded(int32_t{0}, [&]() -> int32_t {
    TTargaEncoder encoder;
    encoder.Progress = progress;
    return encoder.SaveToFile(tlp::PathText(path), image) ? 1 : 0;
  });
}

} // extern "C"
