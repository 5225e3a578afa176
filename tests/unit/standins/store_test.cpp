// The settings store where there is no registry: a .reg text file that a load
// reads and a save replaces. Driven as the setting drives it; the file is
// prepared and read back byte for byte.
#if !defined(_WIN32)

#include "StoreFiles.h"

#include "Store.h"

#include <algorithm>
#include <csignal>
#include <ctime>

#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace store = tlp::store;

const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kSection = "[HKEY_CURRENT_USER\\Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga]\n";

bool Save(uint32_t value) { return store::SaveDword(store::kMethodValue, value); }
std::optional<uint32_t> Load() { return store::LoadDword(store::kMethodValue); }

std::vector<std::string> FolderEntries(const std::string &folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto &entry : std::filesystem::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The superuser passes every permission check. As root, `run` makes its file
// calls with the rights of an ordinary user who owns the store.
template <class F> void AsOwner(F run) {
  const int kUser = 65534;
  const bool root = geteuid() == 0;
  if (root) {
    for (const std::string &path : {ConfigHome(), StoreFolder(), StorePath()})
      lchown(path.c_str(), kUser, kUser);
    setfsgid(kUser);
    setfsuid(kUser);
    EXPECT_EQ(setfsuid(kUser), kUser) << "the file system rights of an ordinary user";
  }
  run();
  if (root) {
    setfsuid(0);
    setfsgid(0);
  }
}

class Store : public ::testing::Test {
protected:
  void SetUp() override { ClearStore(); }
  void TearDown() override { ClearStore(); }
};

// Whenever nothing could be stored the save says so, and the store (or its
// absence) stays as it was, with nothing left beside it. A store the user may
// write in a folder the user may not is saved in place.
TEST_F(Store, RefusedOrForeignStoreIsNeitherReadNorWritten) {
  const std::string stored = kHeader + kSection + "\"TransformMethod\"=dword:00000003\n";
  const std::string utf16 = std::string("\xFF\xFEW\0i\0n\0", 8);
  struct Case {
    const char *name;
    std::optional<std::string> content; // none: no store
    mode_t storeMode, folderMode, configMode;
    std::optional<uint32_t> load;
    bool saved;
  };
  const Case cases[] = {
      {"read-only store", stored, 0444, 0700, 0700, {}, false},
      {"store without the read bit", stored, 0200, 0700, 0700, {}, false},
      {"no owner's bits", stored, 0066, 0700, 0700, {}, false},
      {"read-only folder (saved in place)", stored, 0600, 0500, 0700, 3, true},
      {"no store, read-only config folder", {}, 0, 0, 0500, {}, false},
      {"not a .reg file", "TransformMethod=3\n", 0600, 0700, 0700, {}, false},
      {"older .reg format", "REGEDIT4\n\n" + kSection + "\"TransformMethod\"=dword:00000003\n", 0600, 0700,
       0700, {}, false},
      {"UTF-16 with an odd byte", utf16 + "s", 0600, 0700, 0700, {}, false},
      {"UTF-16 without its header", utf16, 0600, 0700, 0700, {}, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::create_directories(ConfigHome());
    if (c.content) {
      WriteText(StorePath(), *c.content);
      chmod(StorePath().c_str(), c.storeMode);
      chmod(StoreFolder().c_str(), c.folderMode);
    }
    chmod(ConfigHome().c_str(), c.configMode);
    const auto entries = FolderEntries(StoreFolder());
    AsOwner([&] {
      EXPECT_EQ(Load(), c.load);
      EXPECT_EQ(Save(5), c.saved);
    });
    chmod(ConfigHome().c_str(), 0700);
    chmod(StoreFolder().c_str(), 0700);
    chmod(StorePath().c_str(), 0600);
    std::optional<std::string> expected = c.content;
    if (c.saved)
      expected->replace(expected->find("00000003"), 8, "00000005");
    EXPECT_EQ(ReadText(StorePath()), expected);
    EXPECT_EQ(FolderEntries(StoreFolder()), entries);
    ClearStore();
  }
}

// A store path that is no file.
TEST_F(Store, StoreThatIsNoFileFailsTheSave) {
  std::filesystem::create_directories(StorePath()); // a folder
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_FALSE(Save(5));
  std::filesystem::remove(StorePath());
  ASSERT_EQ(mkfifo(StorePath().c_str(), 0600), 0); // never waited on
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_FALSE(Save(5));
  EXPECT_EQ(FolderEntries(StoreFolder()), std::vector<std::string>{"HKEY_CURRENT_USER.reg"});
}

// Every byte but the value's data stays, in the store's own encoding and line
// ends; names are matched without regard to case and keep their spelling; a
// value written over continuation lines goes with them, another one's stay.
// Beside the store, only stale temporary stores of our own pattern go.
TEST_F(Store, SaveKeepsTheEncodingAndClearsOnlyStaleTemporaries) {
  const std::u16string before[] = {
      u"Windows Registry Editor Version 5.00",
      u"",
      u"; written by hand",
      u"[HKEY_LOCAL_MACHINE\\Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga]",
      u"\"TransformMethod\"=dword:00000001",
      u"",
      u"[hkey_current_user\\SOFTWARE\\kadorix\\TOLVA\\plugin\\Kadorix\\etarga]",
      u"\"Before\"=\"a \\\"quoted\\\" \\\\ text\"",
      u"  \"transformMETHOD\" = ", // the value's line: at 8
      u"\"Blob\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\",
      u"  18,19",
      u"@=\"default\"",
      u"", // the encoding's own text: at 12
      u"  not a value",
      u"",
      u"[HKEY_CURRENT_USER\\Software\\Other]",
      u"\"TransformMethod\"=dword:00000009",
  };
  struct Case {
    const char *name;
    std::string bom;
    bool utf16;
    std::u16string eol, text, data; // text: the encoding's own, as 16-bit units
    std::optional<uint32_t> loaded;
  };
  const std::u16string kDword = u"dword:00000003";
  const Case cases[] = {
      {"UTF-8", "", false, u"\n", u"\"\xE5\x90\x8D\"=\"\xE5\x80\xA4\"", kDword, 3},
      {"UTF-8 with a byte-order mark, CR LF", "\xEF\xBB\xBF", false, u"\r\n", u"\"\xE5\x90\x8D\"=\"x\"", kDword,
       3},
      {"ANSI (code page 932)", "", false, u"\n", u"\"\x96\xBC\x91\x4F\"=\"\x92\x6C\"", kDword, 3},
      {"UTF-16LE, CR LF", "\xFF\xFE", true, u"\r\n", u"\"名前\"=\"値\xD800\"", kDword, 3},
      {"UTF-16LE, over two lines", "\xFF\xFE", true, u"\n", u"\"名前\"=\"値\"", u"hex(4):03,00,\\\n  00,00",
       std::nullopt},
  };
  // Beside the store: a file or a folder, its age in seconds, whether it stays.
  const std::string ours = ".HKEY_CURRENT_USER.reg.";
  const struct {
    std::string name;
    int age;
    bool folder, stays;
  } neighbours[] = {
      {ours + "AbC123", 120, false, false}, {ours + "Young1", 20, false, true},
      {ours + "abc12", 120, false, true},   {ours + "abc-12", 120, false, true},
      {ours + "Dir123", 120, true, true},   {".HKEY_CURRENT_USER.bak.AbC123", 120, false, true},
      {ours + "AbC12345.tmp", 120, false, false}, {ours + "AbC12345.tmp2", 120, false, true},
  };
  auto encode = [](const Case &c, std::vector<std::u16string> lines) {
    std::string bytes = c.bom;
    for (const std::u16string &line : lines)
      for (char16_t unit : line + c.eol) {
        bytes += static_cast<char>(unit & 0xFF);
        if (c.utf16)
          bytes += static_cast<char>(unit >> 8);
        else
          EXPECT_LT(unit, 0x100) << "an 8-bit file's unit";
      }
    return bytes;
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::u16string> lines(std::begin(before), std::end(before)), after = lines;
    lines[8] += c.data;
    lines[12] = after[12] = c.text;
    after[8] += u"dword:00000005";
    WriteText(StorePath(), encode(c, lines));
    chmod(StorePath().c_str(), 0640);
    std::vector<std::string> staying = {"HKEY_CURRENT_USER.reg"};
    for (const auto &n : neighbours) {
      const std::string path = StoreFolder() + "/" + n.name;
      if (n.folder)
        std::filesystem::create_directory(path);
      else
        WriteText(path, "a killed save's store");
      const timespec aged[2] = {{time(nullptr) - n.age, 0}, {time(nullptr) - n.age, 0}};
      utimensat(AT_FDCWD, path.c_str(), aged, 0);
      if (n.stays)
        staying.push_back(n.name);
    }
    std::sort(staying.begin(), staying.end());

    EXPECT_EQ(Load(), c.loaded);
    EXPECT_TRUE(Save(5));
    EXPECT_EQ(ReadText(StorePath()), encode(c, after));
    EXPECT_EQ(Load(), 5u);
    struct stat st;
    ASSERT_EQ(stat(StorePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the store keeps its mode";
    EXPECT_EQ(FolderEntries(StoreFolder()), staying);
    ClearStore();
  }
}

// The value's line goes after the key's last line that is not blank; a key
// with no section of its own gets one at the end (which makes every level of
// its path exist: Settings.SaveCreatesEveryMissingLevel).
TEST_F(Store, SaveAddsOnlyWhatIsMissing) {
  const std::string value = "\"TransformMethod\"=dword:00000005";
  const std::string plugin = "\\Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga";
  const std::string tolva = kHeader + "[HKEY_LOCAL_MACHINE" + plugin + "]\n\n"
                                      "[HKEY_CURRENT_USER\\Software\\KADORIX\\Tolva]\n"
                                      "\"Language\"=\"ja\""; // no line feed at the end
  const std::string sub = kHeader + "[HKEY_CURRENT_USER" + plugin + "\\Sub]\n";
  const struct {
    const char *name;
    std::optional<std::string> before; // none: no store
    std::string after;
  } cases[] = {
      {"no store", std::nullopt, kHeader + kSection + value + "\n\n"},
      {"an upper level only", tolva, tolva + "\n\n" + kSection + value + "\n\n"},
      {"a subkey only", sub, sub + "\n" + kSection + value + "\n\n"},
      {"CR LF", "Windows Registry Editor Version 5.00\r\n",
       "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER" + plugin + "]\r\n" + value +
           "\r\n\r\n"},
      {"the key at the end without a line feed", kHeader + kSection + "\"A\"=dword:00000001",
       kHeader + kSection + "\"A\"=dword:00000001\n" + value},
      {"a value line without \"=\"", kHeader + kSection + "\"TransformMethod\" dword:00000003\n",
       kHeader + kSection + "\"TransformMethod\" dword:00000003\n" + value + "\n"},
      {"the value stored already: not written", kHeader + kSection + value + "\n", kHeader + kSection + value + "\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    struct stat was {}, st;
    if (c.before) {
      WriteText(StorePath(), *c.before);
      stat(StorePath().c_str(), &was);
    }
    EXPECT_TRUE(Save(5));
    EXPECT_EQ(ReadText(StorePath()), c.after);
    ASSERT_EQ(stat(StorePath().c_str(), &st), 0);
    EXPECT_EQ(st.st_ino == was.st_ino, c.before == c.after) << "replaced exactly when changed";
    EXPECT_TRUE(c.before || (st.st_mode & 0777) == 0600) << "a new store is private";
    ClearStore();
  }
}

TEST_F(Store, FullDiskLeavesTheOldStore) {
  const std::string stored = kHeader + kSection + "\"TransformMethod\"=dword:00000003\n";
  auto save = [] {
    rlimit old{}, limited{};
    getrlimit(RLIMIT_FSIZE, &old);
    limited = old;
    limited.rlim_cur = 40; // the new store gets partly written, then the disk is "full"
    auto handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limited);
    const bool saved = Save(5);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    return saved;
  };
  WriteText(StorePath(), stored);
  EXPECT_FALSE(save());
  EXPECT_EQ(ReadText(StorePath()), stored);
  EXPECT_EQ(FolderEntries(StoreFolder()), std::vector<std::string>{"HKEY_CURRENT_USER.reg"});

  ClearStore();
  EXPECT_FALSE(save());
  EXPECT_EQ(ReadText(StorePath()), std::nullopt);
  EXPECT_TRUE(FolderEntries(StoreFolder()).empty());
}

TEST_F(Store, SaveWritesThroughASymbolicLink) {
  const std::string target = ConfigHome() + "/dotfiles/tolva.reg";
  WriteText(target, kHeader + kSection + "\"TransformMethod\"=dword:00000003\n");
  std::filesystem::create_directories(StoreFolder());
  std::filesystem::create_symlink(target, StorePath());
  EXPECT_TRUE(Save(0));
  EXPECT_TRUE(std::filesystem::is_symlink(StorePath()));
  EXPECT_EQ(ReadText(target), kHeader + kSection + "\"TransformMethod\"=dword:00000000\n");
  std::filesystem::remove_all(ConfigHome() + "/dotfiles");
}

// The store follows ${XDG_CONFIG_HOME:-$HOME/.config}, looked up at each call;
// without either there is no store.
TEST_F(Store, StoreFollowsTheConfigFolderOfTheMoment) {
  const std::string config = ConfigHome();
  const char *home = std::getenv("HOME");
  const std::string savedHome = home ? home : "";
  const std::string other = TempFile::Folder() + "/other";
  const std::string file = "/Tolva/HKEY_CURRENT_USER.reg";

  setenv("XDG_CONFIG_HOME", (other + "/xdg//").c_str(), 1);
  EXPECT_EQ(store::Where(), "'" + other + "/xdg" + file + "'"); // as messages name it
  EXPECT_TRUE(Save(2));
  EXPECT_TRUE(std::filesystem::exists(other + "/xdg" + file));

  setenv("HOME", (other + "/home").c_str(), 1);
  for (bool unset : {true, false}) {
    if (unset)
      unsetenv("XDG_CONFIG_HOME");
    else
      setenv("XDG_CONFIG_HOME", "relative/config", 1); // not absolute: ignored
    EXPECT_TRUE(Save(2));
    EXPECT_TRUE(std::filesystem::exists(other + "/home/.config" + file));
    std::filesystem::remove_all(other + "/home");
  }
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("HOME");
  EXPECT_EQ(store::Where(), "the settings store: neither XDG_CONFIG_HOME nor HOME names a folder for it");
  EXPECT_EQ(Load(), std::nullopt);
  EXPECT_FALSE(Save(2));

  setenv("HOME", savedHome.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  std::filesystem::remove_all(other);
  EXPECT_FALSE(std::filesystem::exists(StorePath()));
}

} // namespace

#endif
