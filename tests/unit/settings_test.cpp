// The conversion method: loaded by PLUGINCALLBACK, saved by PLUGOUTCALLBACK,
// reported by EXPORT_BeforeTransform. The method lives inside the loaded
// plug-in, so it is seen only through EXPORT_BeforeTransform and the store.
// The store is the registry on Windows and a .reg text file elsewhere (its
// own tests are in standins/store_test.cpp); each test prepares it directly.
#include "TestSupport.h"

#include "Store.h"

#include <optional>

#if defined(_WIN32)
#include <windows.h>
#include <process.h>
#include <sddl.h>
#else
#include "StoreFiles.h"
#endif

namespace {

const char kKey[] = "Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga";
const char kValue[] = "TransformMethod";
const char *const kLevels[] = {"Software", "Software\\KADORIX", "Software\\KADORIX\\Tolva",
                               "Software\\KADORIX\\Tolva\\Plugin",
                               "Software\\KADORIX\\Tolva\\Plugin\\KADORIX", kKey};
enum : uint32_t { kSz = 1, kBinary = 3, kDword = 4, kDwordBigEndian = 5 };

struct Stored {
  uint32_t type;
  Bytes data;
  bool operator==(const Stored &o) const { return type == o.type && data == o.data; }
};

Bytes Le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
Stored Dword(uint32_t v) { return {kDword, Le32(v)}; }

#if defined(_WIN32)

// ---- The store: the registry ----------------------------------------------
// HKEY_CURRENT_USER is mapped for this process onto a key of its own, so that
// test programs running at the same time in the prefix do not meet.

std::string ProcessRoot() { return "Software\\TlpTests\\" + std::to_string(_getpid()); }

void ClearStore() { RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KADORIX"); }

bool KeyExists(const char *path) {
  HKEY key = nullptr;
  const bool exists = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS;
  RegCloseKey(key);
  return exists;
}

void BeginStore() {
  HKEY root = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, ProcessRoot().c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &root, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, root), ERROR_SUCCESS);
  RegCloseKey(root);
  ClearStore();
}

void EndStore() {
  ClearStore();
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, ProcessRoot().c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TlpTests"); // once no other program uses it
}

HKEY CreateKeyForTest(const char *path = kKey) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  return key;
}

void PutKeyOnly() { RegCloseKey(CreateKeyForTest()); }

void PutValue(const Stored &value, const char *name = kValue) {
  HKEY key = CreateKeyForTest();
  EXPECT_EQ(RegSetValueExA(key, name, 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

std::optional<Stored> GetValue(const char *path = kKey) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0;
  uint8_t data[64];
  DWORD size = sizeof data;
  LONG rc = RegQueryValueExA(key, kValue, nullptr, &type, data, &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS)
    return std::nullopt;
  return Stored{type, Bytes(data, data + size)};
}

#else

// ---- The store: a .reg text file ------------------------------------------

const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";
const char kSection[] = "[HKEY_CURRENT_USER\\Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga]\n";

void BeginStore() { ClearStore(); }
void EndStore() { ClearStore(); }

// A value's line: "dword:" for a 4-byte DWORD, "hex(type):" and the bytes
// for anything else.
std::string ValueLine(const Stored &value, const char *name = kValue) {
  const Bytes &d = value.data;
  const bool dword = value.type == kDword && d.size() == 4;
  char text[32];
  if (dword)
    std::snprintf(text, sizeof text, "dword:%02x%02x%02x%02x", d[3], d[2], d[1], d[0]);
  else
    std::snprintf(text, sizeof text, "hex(%x):", value.type);
  std::string line = std::string("\"") + name + "\"=" + text;
  for (size_t i = 0; !dword && i < d.size(); ++i) {
    std::snprintf(text, sizeof text, i ? ",%02x" : "%02x", d[i]);
    line += text;
  }
  return line;
}

void PutKeyOnly() { WriteText(StorePath(), kHeader + std::string(kSection) + "\n"); }

void PutValue(const Stored &value, const char *name = kValue) {
  WriteText(StorePath(), kHeader + std::string(kSection) + ValueLine(value, name) + "\n\n");
}

// Reads the value back as the plug-in does; the store's own tests check its
// bytes.
std::optional<Stored> GetValue() {
  const std::optional<uint32_t> value = tlp::store::LoadDword(kValue);
  return value ? std::optional<Stored>(Dword(*value)) : std::nullopt;
}

#endif

class Settings : public ::testing::Test {
protected:
  void SetUp() override { BeginStore(); }
  void TearDown() override { EndStore(); }

  // Gives the plug-in `method` by loading it, and leaves the store empty.
  static void Prime(int8_t method) {
    PutValue(Dword(static_cast<uint32_t>(static_cast<int32_t>(method))));
    Api().PLUGINCALLBACK(0);
    ClearStore();
  }
};

// ---- Both platforms ---------------------------------------------------------

TEST_F(Settings, LoadTakesTheLowByteOfADwordAndIgnoresEverythingElse) {
  enum Setup { kNoKey, kKeyOnly, kStored };
  struct Case {
    const char *name;
    Setup setup;
    Stored stored;
    std::optional<int32_t> code; // after the load; the primed method gives 4
  };
  const Case cases[] = {
      {"no key", kNoKey, {}, 4},
      {"key without the value", kKeyOnly, {}, 4},
      {"REG_SZ", kStored, {kSz, {'3', 0}}, 4},
      {"REG_BINARY", kStored, {kBinary, Le32(3)}, 4},
      {"big-endian DWORD", kStored, {kDwordBigEndian, {0, 0, 0, 3}}, 4},
      {"DWORD longer than 4 bytes", kStored, {kDword, {3, 0, 0, 0, 0}}, 4},
      {"DWORD shorter than 4 bytes", kStored, {kDword, {3, 0}}, 4},
      {"0", kStored, Dword(0), 2},
      {"3", kStored, Dword(3), 8},
      {"4", kStored, Dword(4), 9},
      {"5", kStored, Dword(5), 10},
      {"261: low 8 bits", kStored, Dword(261), 10},
      {"7: out of range", kStored, Dword(7), std::nullopt},
      {"all bits set", kStored, Dword(0xFFFFFFFF), std::nullopt},
      {"0x80: negative", kStored, Dword(0x80), std::nullopt},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Prime(1);
    ASSERT_EQ(ReportedCode(), 4);
    if (c.setup == kKeyOnly)
      PutKeyOnly();
    if (c.setup == kStored)
      PutValue(c.stored);
    Api().PLUGINCALLBACK(0);
    EXPECT_EQ(ReportedCode(), c.code);
    if (c.setup == kNoKey) {
#if defined(_WIN32)
      EXPECT_FALSE(KeyExists("Software\\KADORIX")) << "the load created the key";
#else
      EXPECT_FALSE(std::filesystem::exists(StoreFolder())) << "the load created the store";
#endif
    }
    ClearStore();
  }
}

TEST_F(Settings, NamesCompareWithoutCase) {
  Prime(1);
#if defined(_WIN32)
  HKEY key = CreateKeyForTest("SOFTWARE\\kadorix\\TOLVA\\plugin\\Kadorix\\etarga");
  RegSetValueExA(key, "transformMETHOD", 0, REG_DWORD, Le32(3).data(), 4);
  RegCloseKey(key);
#else
  WriteText(StorePath(), kHeader + std::string("[hkey_current_user\\SOFTWARE\\kadorix\\TOLVA\\plugin\\Kadorix\\"
                                               "etarga]\n\"transformMETHOD\"=dword:00000003\n"));
#endif
  Api().PLUGINCALLBACK(0);
  EXPECT_EQ(ReportedCode(), 8);
}

TEST_F(Settings, SaveWritesTheMethodSignExtended) {
  struct Case {
    uint32_t stored, saved;
  };
  for (Case c : {Case{3, 3}, Case{261, 5}, Case{7, 7}, Case{0xFFFFFFFF, 0xFFFFFFFF},
                 Case{0x80, 0xFFFFFF80}}) {
    SCOPED_TRACE(c.stored);
    PutValue(Dword(c.stored));
    Api().PLUGINCALLBACK(0);
    PutValue(Dword(0x12345678));
    Api().PLUGOUTCALLBACK();
    EXPECT_EQ(GetValue(), Dword(c.saved));
    ClearStore();
  }
}

TEST_F(Settings, SaveCreatesEveryMissingLevel) {
  Prime(2);
  Api().PLUGOUTCALLBACK();
#if defined(_WIN32)
  for (const char *level : kLevels)
    EXPECT_TRUE(KeyExists(level)) << level;
#endif
  EXPECT_EQ(GetValue(), Dword(2));
}

TEST_F(Settings, EachLoadReadsTheStoreAgain) {
  PutValue(Dword(3));
  Api().PLUGINCALLBACK(0);
  EXPECT_EQ(ReportedCode(), 8);
  // The method in memory (3) now differs from the store: a second load
  // discards it, a save would have kept it.
  PutValue(Dword(5));
  Api().PLUGINCALLBACK(0);
  EXPECT_EQ(ReportedCode(), 10);
  PutValue(Dword(0));
  Api().PLUGOUTCALLBACK();
  EXPECT_EQ(GetValue(), Dword(5));
}

// ---- Windows ---------------------------------------------------------------------

#if defined(_WIN32)

TEST_F(Settings, KeyTheUserMayOnlyReadIsNeitherLoadedNorSaved) {
  Prime(1);
  PutValue(Dword(3));
  HKEY key = CreateKeyForTest();
  PSECURITY_DESCRIPTOR readOnly = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                   &readOnly, nullptr));
  ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
  LocalFree(readOnly);
  RegCloseKey(key);

  Api().PLUGINCALLBACK(0);
  EXPECT_EQ(ReportedCode(), 4) << "full access is refused, so nothing is loaded";
  Api().PLUGOUTCALLBACK();
  EXPECT_EQ(GetValue(), Dword(3)) << "nor saved";
  EXPECT_EQ(tlp::store::LoadDword(kValue), std::nullopt);
  EXPECT_FALSE(tlp::store::SaveDword(kValue, 5));
  EXPECT_EQ(tlp::store::Where(), std::string("the registry key HKEY_CURRENT_USER\\") + kKey)
      << "as a host's message names it";
}

TEST_F(Settings, KeyThatCannotBeCreatedGetsNothing) {
  Prime(3);
  // A persistent key cannot live below a volatile one.
  HKEY parent = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KADORIX\\Tolva\\Plugin\\KADORIX", 0,
                            nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &parent, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(parent);
  Api().PLUGOUTCALLBACK();
  EXPECT_FALSE(KeyExists(kKey));
  EXPECT_FALSE(tlp::store::SaveDword(kValue, 3));
}

TEST_F(Settings, SaveKeepsTheKeysOtherValuesAndNeighbours) {
  Prime(4);
  HKEY key = CreateKeyForTest();
  const char text[] = "kept";
  RegSetValueExA(key, "Other", 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text);
  RegCloseKey(key);
  PutValue({kSz, {'1', 0}});
  RegCloseKey(CreateKeyForTest("Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\EOther"));

  Api().PLUGOUTCALLBACK();
  EXPECT_EQ(GetValue(), Dword(4)) << "the wrongly typed value is replaced";
  key = CreateKeyForTest();
  char read[16] = {};
  DWORD type = 0, size = sizeof read;
  EXPECT_EQ(RegQueryValueExA(key, "Other", nullptr, &type, reinterpret_cast<BYTE *>(read), &size),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_STREQ(read, "kept");
  EXPECT_TRUE(KeyExists("Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\EOther"));
}

#endif

} // namespace
