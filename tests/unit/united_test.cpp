// What the plug-in says about itself, through the library loaded by path.
#include "TestSupport.h"

#include <cstring>

namespace {

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

} // namespace
