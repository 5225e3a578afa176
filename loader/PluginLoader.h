// Loads the plug-in by path and resolves every export by name, as a host does.
#pragma once

#include "TargaPlugin.h"

#include <string>

struct PluginApi {
  decltype(&::PLUGINCALLBACK) PLUGINCALLBACK = nullptr;
  decltype(&::PLUGOUTCALLBACK) PLUGOUTCALLBACK = nullptr;
  decltype(&::UNITED_SupportedInformation) UNITED_SupportedInformation = nullptr;
  decltype(&::UNITED_Verbose) UNITED_Verbose = nullptr;
  decltype(&::IMPORT_InterfaceVersion) IMPORT_InterfaceVersion = nullptr;
  decltype(&::IMPORT_SupportedExtensions) IMPORT_SupportedExtensions = nullptr;
  decltype(&::IMPORT_ValidFileCheck) IMPORT_ValidFileCheck = nullptr;
  decltype(&::IMPORT_ImageInformation) IMPORT_ImageInformation = nullptr;
  decltype(&::IMPORT_CreateImage) IMPORT_CreateImage = nullptr;
  decltype(&::IMPORT_CreatePreviewImage) IMPORT_CreatePreviewImage = nullptr;
  decltype(&::IMPORT_FreeImage) IMPORT_FreeImage = nullptr;
  decltype(&::EXPORT_InterfaceVersion) EXPORT_InterfaceVersion = nullptr;
  decltype(&::EXPORT_SupportedExtensions) EXPORT_SupportedExtensions = nullptr;
  decltype(&::EXPORT_EnterOption) EXPORT_EnterOption = nullptr;
  decltype(&::EXPORT_LeaveOption) EXPORT_LeaveOption = nullptr;
  decltype(&::EXPORT_BeforeTransform) EXPORT_BeforeTransform = nullptr;
  decltype(&::EXPORT_WriteToFile) EXPORT_WriteToFile = nullptr;
  void **ExportOptionForm = nullptr; // the data symbol "_ExportOptionForm"
};

class Plugin {
public:
  Plugin() = default;
  Plugin(const Plugin &) = delete;
  Plugin &operator=(const Plugin &) = delete;
  ~Plugin();

  // Loads the library and resolves all eighteen names; on failure `error`
  // says which step failed and nothing stays loaded.
  bool Load(const std::string &path, std::string *error);
  void Unload();
  bool Loaded() const { return module_ != nullptr; }
  const PluginApi &Api() const { return api_; }
  // Address of any export by name (for the checks of the interface).
  void *Symbol(const char *name) const;

private:
  void *module_ = nullptr;
  PluginApi api_;
};

// A record made by IMPORT_CreateImage or IMPORT_CreatePreviewImage, handed
// back with IMPORT_FreeImage on every way out; the 28-byte record itself is
// the host's to free.
struct Imported {
  const PluginApi &api;
  HostImage *image = nullptr;
  explicit Imported(const PluginApi &a) : api(a) {}
  ~Imported();
  Imported(const Imported &) = delete;
  Imported &operator=(const Imported &) = delete;
};

// The library next to the running program (what tga-host loads by default).
std::string DefaultPluginPath();
