#include "PluginLoader.h"
#include "Library.h"

#include <cstdlib>

namespace {

template <class F> bool Resolve(void *module, const char *name, F *out, std::string *missing) {
  void *p = FindSymbol(module, name);
  if (!p) {
    *missing = name;
    return false;
  }
  *out = reinterpret_cast<F>(p);
  return true;
}

} // namespace

Plugin::~Plugin() { Unload(); }

Imported::~Imported() {
  if (image) {
    api.IMPORT_FreeImage(image);
    std::free(image);
  }
}

void Plugin::Unload() {
  if (module_)
    CloseLibrary(module_);
  module_ = nullptr;
  api_ = PluginApi();
}

void *Plugin::Symbol(const char *name) const { return module_ ? FindSymbol(module_, name) : nullptr; }

bool Plugin::Load(const std::string &path, std::string *error) {
  Unload();
  void *m = OpenLibrary(path, error);
  if (!m)
    return false;
  PluginApi a;
  std::string missing;
#define TLP_RESOLVE(name) Resolve(m, #name, &a.name, &missing)
  bool ok = TLP_RESOLVE(PLUGINCALLBACK) && TLP_RESOLVE(PLUGOUTCALLBACK) &&
            TLP_RESOLVE(UNITED_SupportedInformation) && TLP_RESOLVE(UNITED_Verbose) &&
            TLP_RESOLVE(IMPORT_InterfaceVersion) && TLP_RESOLVE(IMPORT_SupportedExtensions) &&
            TLP_RESOLVE(IMPORT_ValidFileCheck) && TLP_RESOLVE(IMPORT_ImageInformation) &&
            TLP_RESOLVE(IMPORT_CreateImage) && TLP_RESOLVE(IMPORT_CreatePreviewImage) &&
            TLP_RESOLVE(IMPORT_FreeImage) && TLP_RESOLVE(EXPORT_InterfaceVersion) &&
            TLP_RESOLVE(EXPORT_SupportedExtensions) && TLP_RESOLVE(EXPORT_EnterOption) &&
            TLP_RESOLVE(EXPORT_LeaveOption) && TLP_RESOLVE(EXPORT_BeforeTransform) &&
            TLP_RESOLVE(EXPORT_WriteToFile);
#undef TLP_RESOLVE
  if (ok) {
    a.ExportOptionForm = static_cast<void **>(FindSymbol(m, "_ExportOptionForm"));
    if (!a.ExportOptionForm) {
      missing = "_ExportOptionForm";
      ok = false;
    }
  }
  if (!ok) {
    if (error)
      *error = path + " does not export " + missing;
    CloseLibrary(m);
    return false;
  }
  module_ = m;
  api_ = a;
  return true;
}

std::string DefaultPluginPath() { return ProgramFolder() + "/Targa.tlp"; }
