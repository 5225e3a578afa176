// Unit Export: the options panel, the conversion code and writing files.
#include "TargaPlugin.h"
#include "Boundary.h"
#include "Etarga.h"
#include "Expoptf.h"
#include "Settings.h"

#include <string>

namespace {
const int32_t kInterfaceVersion = 0x00010000;
}

extern "C" {

void TLP_CALL EXPORT_InterfaceVersion(int32_t *version) { *version = kInterfaceVersion; }

int32_t TLP_CALL EXPORT_SupportedExtensions(InfoCallback callback) { return callback("tga"); }

// Shows the panel in the host's window with the current method selected.
void TLP_CALL EXPORT_EnterOption(void *applicationWindow, void *parentWindow, uint32_t) {
  tlp::Guarded([&] {
    Application.Handle = applicationWindow;
    OptionParentWindow = parentWindow;
    // A panel that cannot be made leaves none for EXPORT_LeaveOption to use.
    ExportOptionForm = nullptr;
    ExportOptionForm = Application.CreateForm();
    ExportOptionForm->SelectItem(ConversionMethod);
  });
}

// Takes the selection over on a non-zero flag; the panel goes in the host's
// message loop. ExportOptionForm keeps referring to it.
void TLP_CALL EXPORT_LeaveOption(int32_t accept) {
  tlp::Guarded([&] {
    TExportOptionForm *form = ExportOptionForm;
    if (!form)
      return;
    if (accept != 0 && form->ItemIndex() != -1)
      ConversionMethod = static_cast<int8_t>(form->ItemIndex());
    form->Release();
  });
}

void TLP_CALL EXPORT_BeforeTransform(int32_t *conversionCode, uint32_t) {
  if (auto code = HostConversionCode(ConversionMethod))
    *conversionCode = *code;
}

// One encoder per call; 1 for a written (or host-stopped) file, 0 otherwise.
int32_t TLP_CALL EXPORT_WriteToFile(const char *path, const HostImage *image,
                                    ProgressCallback progress) {
  std::string name;
  if (!tlp::Guarded(false, [&] {
        name = tlp::PathText(path);
        return true;
      }))
    return 0;
  // The encoder throws nothing of its own; it runs outside the guard so that
  // an exception from the host's ProgressCallback goes back to the host
  // instead of passing for a failed write.
  TTargaEncoder encoder;
  encoder.Progress = progress;
  return encoder.SaveToFile(name, image) ? 1 : 0;
}

} // extern "C"
