#include "TestSupport.h"

#include <atomic>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

std::string TempFile::Folder() {
  static const std::string folder = [] {
    auto dir = std::filesystem::temp_directory_path() /
               ("tlp-tests-" + std::to_string(static_cast<long>(getpid())));
    std::filesystem::create_directories(dir);
    return dir.string();
  }();
  return folder;
}

TempFile::TempFile(const std::string &name) {
  static std::atomic<int> counter{0};
  path_ = Folder() + "/" + std::to_string(counter++) + "-" + name;
}

TempFile::~TempFile() {
  std::error_code ec;
  std::filesystem::remove(path_, ec);
}

void TempFile::Write(const Bytes &content) const {
  std::ofstream f(path_, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char *>(content.data()), static_cast<std::streamsize>(content.size()));
}

Bytes TempFile::Read() const {
  std::ifstream f(path_, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool TempFile::Exists() const {
  std::error_code ec;
  return std::filesystem::exists(path_, ec);
}

Plugin &LoadedPlugin() {
  static Plugin plugin;
  if (!plugin.Loaded()) {
    std::string error;
    if (!plugin.Load(DefaultPluginPath(), &error)) {
      ADD_FAILURE() << error;
      std::abort();
    }
  }
  return plugin;
}

const PluginApi &Api() { return LoadedPlugin().Api(); }

SeamPlugin &Seams() {
  static SeamPlugin seams;
  if (!seams.plugin.Loaded()) {
    std::string path = DefaultPluginPath(), error;
    path.replace(path.rfind("Targa.tlp"), 9, "Targa-seams.tlp");
    if (!seams.plugin.Load(path, &error)) {
      ADD_FAILURE() << error;
      std::abort();
    }
    seams.RefuseAllocation = reinterpret_cast<void (*)(long)>(seams.plugin.Symbol("TLP_RefuseAllocation"));
    seams.AllocationRefused = reinterpret_cast<int (*)()>(seams.plugin.Symbol("TLP_AllocationRefused"));
    if (!seams.RefuseAllocation || !seams.AllocationRefused)
      std::abort();
  }
  return seams;
}

std::optional<int32_t> ReportedCode() {
  const int32_t kUntouched = -12345;
  int32_t code = kUntouched;
  Api().EXPORT_BeforeTransform(&code, 0);
  if (code == kUntouched)
    return std::nullopt;
  return code;
}
