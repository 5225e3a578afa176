// What the plug-in says about itself, through the library loaded by path.
#include "TestSupport.h"

#include <cstring>
#include <type_traits>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

// The header's pointer types are those of the functions it declares.
#define TLP_SAME_TYPE(name) static_assert(std::is_same_v<PFN_##name, decltype(&::name)>, #name)
TLP_SAME_TYPE(PLUGINCALLBACK);
TLP_SAME_TYPE(PLUGOUTCALLBACK);
TLP_SAME_TYPE(UNITED_SupportedInformation);
TLP_SAME_TYPE(UNITED_Verbose);
TLP_SAME_TYPE(IMPORT_InterfaceVersion);
TLP_SAME_TYPE(IMPORT_SupportedExtensions);
TLP_SAME_TYPE(IMPORT_ValidFileCheck);
TLP_SAME_TYPE(IMPORT_ImageInformation);
TLP_SAME_TYPE(IMPORT_CreateImage);
TLP_SAME_TYPE(IMPORT_CreatePreviewImage);
TLP_SAME_TYPE(IMPORT_FreeImage);
TLP_SAME_TYPE(EXPORT_InterfaceVersion);
TLP_SAME_TYPE(EXPORT_SupportedExtensions);
TLP_SAME_TYPE(EXPORT_EnterOption);
TLP_SAME_TYPE(EXPORT_LeaveOption);
TLP_SAME_TYPE(EXPORT_BeforeTransform);
TLP_SAME_TYPE(EXPORT_WriteToFile);
#undef TLP_SAME_TYPE

struct VerboseCall {
  uint32_t version;
  std::string name, copyright, description;
};
std::vector<VerboseCall> g_verbose;
std::vector<std::string> g_texts;

int32_t TLP_CALL RecordVerbose(uint32_t version, const char *name, const char *copyright,
                               const char *description) {
  g_verbose.push_back({version, name, copyright, description});
  return 0x5A5A;
}

int32_t TLP_CALL RecordText(const char *text) {
  g_texts.push_back(text);
  return 0x1234;
}

// "TOLVA 標準搭載の I/E プラグイン。\n TGA(Targa)ファイルの作成と回覧をサポートする。"
const char kDescription[] =
    "TOLVA \x95W\x8f\x80\x93\x8b\x8d\xda\x82\xcc I/E \x83v\x83\x89\x83O\x83"
    "C\x83\x93\x81"
    "B\n TGA(Targa)\x83t\x83@\x83"
    "C\x83\x8b\x82\xcc\x8d\xec\x90\xac\x82\xc6\x89\xf1\x97\x97\x82\xf0\x83T\x83|\x81[\x83g\x82\xb7\x82\xe9\x81"
    "B";

void ExpectInformationAnswers() {
  const PluginApi &p = Api();
  g_verbose.clear();
  EXPECT_EQ(p.UNITED_Verbose(RecordVerbose), 0x5A5A);
  ASSERT_EQ(g_verbose.size(), 1u);
  EXPECT_EQ(g_verbose[0].version, 0x01000000u);
  EXPECT_EQ(g_verbose[0].name, "Targa");
  EXPECT_FALSE(g_verbose[0].copyright.empty());
  EXPECT_EQ(g_verbose[0].copyright.find('\n'), std::string::npos) << "one line";
  EXPECT_EQ(g_verbose[0].description, kDescription);
  EXPECT_EQ(g_verbose[0].description.size(), 81u);
  size_t lf = g_verbose[0].description.find('\n');
  ASSERT_NE(lf, std::string::npos);
  EXPECT_EQ(g_verbose[0].description[lf + 1], ' ');

  for (auto ext : {p.IMPORT_SupportedExtensions, p.EXPORT_SupportedExtensions}) {
    g_texts.clear();
    EXPECT_EQ(ext(RecordText), 0x1234);
    EXPECT_EQ(ext(RecordText), 0x1234);
    EXPECT_EQ(g_texts, (std::vector<std::string>{"tga", "tga"}));
  }
  for (auto ver : {p.IMPORT_InterfaceVersion, p.EXPORT_InterfaceVersion}) {
    int32_t v = -1;
    ver(&v);
    EXPECT_EQ(v, 0x00010000);
  }
  int32_t a = 7, b = 9;
  p.UNITED_SupportedInformation(&a, &b);
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 1);
  int32_t same = 5;
  p.UNITED_SupportedInformation(&same, &same);
  EXPECT_EQ(same, 1);
}

TEST(Information, AnswersAreConstantAcrossTheLoadNotifications) {
  SCOPED_TRACE("before PLUGINCALLBACK");
  ExpectInformationAnswers();
  Api().PLUGINCALLBACK(0);
  {
    SCOPED_TRACE("between the notifications");
    ExpectInformationAnswers();
  }
  Api().PLUGOUTCALLBACK();
  {
    SCOPED_TRACE("after PLUGOUTCALLBACK");
    ExpectInformationAnswers();
  }
}

TEST(Information, EveryExportResolvesByPlainName) {
  Plugin &plugin = LoadedPlugin();
  for (const char *name :
       {"PLUGINCALLBACK", "PLUGOUTCALLBACK", "UNITED_SupportedInformation", "UNITED_Verbose",
        "IMPORT_InterfaceVersion", "IMPORT_SupportedExtensions", "IMPORT_ValidFileCheck",
        "IMPORT_ImageInformation", "IMPORT_CreateImage", "IMPORT_CreatePreviewImage",
        "IMPORT_FreeImage", "EXPORT_InterfaceVersion", "EXPORT_SupportedExtensions",
        "EXPORT_EnterOption", "EXPORT_LeaveOption", "EXPORT_BeforeTransform",
        "EXPORT_WriteToFile", "_ExportOptionForm"})
    EXPECT_NE(plugin.Symbol(name), nullptr) << name;
  EXPECT_EQ(plugin.Symbol("_PLUGINCALLBACK@4"), nullptr);
  EXPECT_EQ(plugin.Symbol("PLUGINCALLBACK@4"), nullptr);
}


#if defined(_WIN32)
// What Windows shows in the file properties of the plug-in and of tga-host:
// the version UNITED_Verbose reports (one byte per component), our names.
TEST(Information, VersionResourcesCarryTheReportedVersion) {
  g_verbose.clear();
  Api().UNITED_Verbose(RecordVerbose);
  ASSERT_EQ(g_verbose.size(), 1u);
  const uint32_t v = g_verbose[0].version;
  const DWORD high = (v >> 24) << 16 | (v >> 16 & 0xFF), low = (v >> 8 & 0xFF) << 16 | (v & 0xFF);
  const std::string dotted = std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 0xFF) + "." +
                             std::to_string(v >> 8 & 0xFF) + "." + std::to_string(v & 0xFF);
  std::string dir = DefaultPluginPath();
  dir.erase(dir.rfind('/'));

  struct Case {
    const char *file;
    DWORD type;
  };
  std::vector<Case> cases{{"Targa.tlp", VFT_DLL}};
#if defined(TLP_TEST_HOST_BUILT)
  cases.push_back({"tga-host.exe", VFT_APP});
#endif
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = dir + "/" + c.file;
    DWORD unused = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &unused);
    ASSERT_NE(size, 0u) << "no version resource";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    auto query = [&](const std::string &key, UINT *length) -> void * {
      void *value = nullptr;
      return VerQueryValueA(info.data(), key.c_str(), &value, length) ? value : nullptr;
    };
    UINT length = 0;
    auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(query("\\", &length));
    ASSERT_TRUE(fixed && length >= sizeof *fixed);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, high);
    EXPECT_EQ(fixed->dwFileVersionLS, low);
    EXPECT_EQ(fixed->dwProductVersionMS, high);
    EXPECT_EQ(fixed->dwProductVersionLS, low);
    EXPECT_EQ(fixed->dwFileType, c.type);

    // The texts are found through the translation the resource names.
    auto *translation = static_cast<const WORD *>(query("\\VarFileInfo\\Translation", &length));
    ASSERT_TRUE(translation && length >= 4);
    char block[32];
    std::snprintf(block, sizeof block, "\\StringFileInfo\\%04X%04X\\", translation[0], translation[1]);
    auto text = [&](const char *name) {
      auto *value = static_cast<const char *>(query(std::string(block) + name, &length));
      return value ? std::string(value) : std::string("(missing)");
    };
    EXPECT_EQ(text("FileVersion"), dotted);
    EXPECT_EQ(text("ProductVersion"), dotted);
    EXPECT_EQ(text("OriginalFilename"), c.file);
    EXPECT_EQ(text("CompanyName"), "Targa plug-in");
    EXPECT_EQ(text("ProductName"), "Targa plug-in");
    EXPECT_EQ(text("LegalCopyright"), g_verbose[0].copyright);
    EXPECT_NE(text("FileDescription"), "(missing)");
  }
}
#endif

} // namespace
