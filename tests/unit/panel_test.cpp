// The export options panel: its layout arithmetic and selection rule as plain
// tables, and the panel itself inside a host window, driven through the loaded
// plug-in and read back with the window functions: the system's on Windows,
// the headless tlpwin library elsewhere.
#include "TestSupport.h"

#include "Expoptf.h"
#include "Registry.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <process.h>
#else
#include "tlpwin.h"
#include <dlfcn.h>
#endif

namespace {

// ---- The layout arithmetic and the selection rule ----------------------------

struct ScaleCase {
  int32_t pixelsPerInch;
  int32_t fontHeight;
  int32_t textHeight; // what the font measures
  PanelRect group;
  int32_t clientWidth, clientHeight;
  int32_t buttonWidth, buttonHeight;
  int32_t tops[6];
};

const ScaleCase kScaleCases[] = {
    // The design: 96 dpi, 12-pixel text.
    {96, -12, 12, {8, 16, 241, 129}, 283, 159, 231, 18, {15, 33, 51, 69, 87, 105}},
    // A face whose -12 measures 13 (the Japanese font the Wine prefix maps).
    {96, -12, 13, {9, 17, 261, 140}, 307, 172, 251, 20, {15, 35, 55, 75, 95, 115}},
    {120, -15, 15, {10, 20, 301, 161}, 354, 199, 291, 23, {17, 40, 63, 86, 109, 132}},
    // Halves round away from zero: 361.5 -> 362, 193.5 -> 194.
    {144, -18, 18, {12, 24, 362, 194}, 425, 239, 352, 28, {20, 48, 76, 104, 132, 160}},
    {72, -9, 9, {6, 12, 181, 97}, 212, 119, 171, 13, {12, 25, 38, 51, 64, 77}},
};

TEST(PanelLayout, ScalesByResolutionAndTextHeight) {
  for (const ScaleCase &c : kScaleCases) {
    SCOPED_TRACE(testing::Message() << c.pixelsPerInch << " dpi, text " << c.textHeight);
    EXPECT_EQ(OptionPanelModel::FontHeightAt(c.pixelsPerInch), c.fontHeight);
    OptionPanelModel m;
    m.ScaleToTextHeight(c.textHeight);
    EXPECT_EQ(m.group, c.group);
    EXPECT_EQ(m.clientWidth, c.clientWidth);
    EXPECT_EQ(m.clientHeight, c.clientHeight);
    for (int k = 0; k < 6; ++k)
      EXPECT_EQ(m.Button(k), (PanelRect{8, c.tops[k], c.buttonWidth, c.buttonHeight})) << "button " << k;
  }
}

TEST(PanelLayout, FontHeightRoundsToNearest) {
  const int32_t cases[][2] = {{96, -12}, {100, -13}, {110, -14}, {108, -14}, {104, -13}, {48, -6}};
  for (auto &c : cases)
    EXPECT_EQ(OptionPanelModel::FontHeightAt(c[0]), c[1]) << c[0] << " dpi";
}

TEST(PanelLayout, ScalingStartsFromTheDesignEachTime) {
  OptionPanelModel m;
  m.ScaleToTextHeight(18);
  m.ScaleToTextHeight(12);
  EXPECT_EQ(m.group, (PanelRect{8, 16, 241, 129}));
  EXPECT_EQ(m.clientWidth, 283);
  m.ScaleToTextHeight(0); // nothing measured: the design
  EXPECT_EQ(m.group, (PanelRect{8, 16, 241, 129}));
  EXPECT_EQ(m.textHeight, 12);
}

TEST(PanelSelection, OutOfRangeValuesAreAbsorbed) {
  const int cases[][2] = {{INT_MIN, -1}, {-128, -1}, {-5, -1}, {-2, -1}, {-1, -1}, {0, 0},
                          {3, 3},        {5, 5},     {6, 5},  {7, 5},   {127, 5}, {INT_MAX, 5}};
  for (auto &c : cases) {
    OptionPanelModel m;
    auto change = m.Select(c[0]);
    EXPECT_EQ(m.selected, c[1]) << c[0];
    EXPECT_EQ(change.uncheck, -1) << "nothing was checked before";
    EXPECT_EQ(change.check, c[1]) << c[0];
  }
}

TEST(PanelSelection, ChangesTouchOnlyTheOldAndTheNewButton) {
  struct Case {
    int from, to, uncheck, check, after;
  } cases[] = {
      {2, 4, 2, 4, 4},  {2, 2, -1, -1, 2}, {2, 9, 2, 5, 5},    {5, 9, -1, -1, 5},
      {2, -1, 2, -1, -1}, {-1, -7, -1, -1, -1}, {0, -3, 0, -1, -1},
  };
  for (const Case &c : cases) {
    OptionPanelModel m;
    m.Select(c.from);
    auto change = m.Select(c.to);
    EXPECT_EQ(change.uncheck, c.uncheck) << c.from << " -> " << c.to;
    EXPECT_EQ(change.check, c.check) << c.from << " -> " << c.to;
    EXPECT_EQ(m.selected, c.after) << c.from << " -> " << c.to;
  }
}

TEST(PanelSelection, ClicksNeverGoBackToNone) {
  OptionPanelModel m;
  m.Select(3);
  for (int k : {-1, 6, 100}) {
    auto change = m.Click(k);
    EXPECT_EQ(change.uncheck, -1);
    EXPECT_EQ(change.check, -1);
    EXPECT_EQ(m.selected, 3);
  }
  m.Click(0);
  EXPECT_EQ(m.selected, 0);
}

// ---- Window functions, as a host uses them -----------------------------------

#if defined(_WIN32)
using Wnd = HWND;

Wnd MakeHost(int width, int height) {
  static const char kClass[] = "TlpPanelTestHost";
  static bool registered = false;
  if (!registered) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClass;
    registered = RegisterClassA(&wc) != 0;
  }
  return CreateWindowExA(0, kClass, "host", WS_OVERLAPPEDWINDOW, 0, 0, width, height, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}
void DestroyHost(Wnd h) { DestroyWindow(h); }
bool Exists(Wnd h) { return IsWindow(h) != FALSE; }
std::vector<Wnd> Children(Wnd h) {
  std::vector<Wnd> out;
  for (HWND c = GetWindow(h, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
    out.push_back(c);
  return out;
}
PanelRect Placement(Wnd h) {
  RECT r;
  GetWindowRect(h, &r);
  POINT p{r.left, r.top};
  ScreenToClient(GetParent(h), &p);
  return PanelRect{p.x, p.y, r.right - r.left, r.bottom - r.top};
}
PanelRect ClientArea(Wnd h) {
  RECT r;
  GetClientRect(h, &r);
  return PanelRect{0, 0, r.right, r.bottom};
}
uint32_t Style(Wnd h) { return static_cast<uint32_t>(GetWindowLongA(h, GWL_STYLE)); }
std::string Text(Wnd h) {
  char buf[256];
  int n = GetWindowTextA(h, buf, sizeof buf);
  return std::string(buf, static_cast<size_t>(std::max(n, 0)));
}
bool Checked(Wnd h) { return SendMessageA(h, BM_GETCHECK, 0, 0) == BST_CHECKED; }
void Click(Wnd h) { SendMessageA(h, BM_CLICK, 0, 0); }
// One turn of the host's message loop: everything queued now is dispatched.
void PumpOnce() {
  MSG m;
  while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&m);
    DispatchMessageA(&m);
  }
}
void *PanelObject(Wnd panel) { return reinterpret_cast<void *>(GetWindowLongPtrA(panel, 0)); }
bool IsRadioButton(Wnd h) { return (Style(h) & BS_TYPEMASK) == BS_RADIOBUTTON; }
bool IsGroupBox(Wnd h) { return (Style(h) & BS_TYPEMASK) == BS_GROUPBOX; }
int32_t BackgroundColour(Wnd h) {
  return static_cast<int32_t>(GetClassLongPtrA(h, GCLP_HBRBACKGROUND)) - 1;
}
struct FontSeen {
  int32_t height = 0, charset = -1, textHeight = 0;
  std::string face;
};
FontSeen FontOf(Wnd h) {
  FontSeen f;
  HFONT font = reinterpret_cast<HFONT>(SendMessageA(h, WM_GETFONT, 0, 0));
  LOGFONTA lf;
  if (!font || !GetObjectA(font, sizeof lf, &lf))
    return f;
  f.height = lf.lfHeight;
  f.charset = lf.lfCharSet;
  f.face = lf.lfFaceName;
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm;
  if (GetTextMetricsA(dc, &tm))
    f.textHeight = tm.tmHeight;
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  return f;
}
const void *ClassInstance(Wnd h) { return reinterpret_cast<const void *>(GetClassLongPtrA(h, GCLP_HMODULE)); }
bool ClassRegistered(const void *instance) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  return GetClassInfoExA(static_cast<HINSTANCE>(const_cast<void *>(instance)), "TExportOptionForm", &wc) != 0;
}
const int32_t kBtnFace = COLOR_BTNFACE;
const uint32_t kPanelStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
#else
using Wnd = TlpHwnd;

Wnd MakeHost(int width, int height) {
  static const char kInstance = 0;
  static bool registered = false;
  if (!registered)
    registered = tlpwin_RegisterClass("TlpPanelTestHost", &kInstance, tlpwin_DefWindowProc,
                                      TLP_COLOR_BTNFACE) != 0;
  return tlpwin_CreateWindow("TlpPanelTestHost", &kInstance, "host", 0, 0, 0, width, height, nullptr,
                             0, nullptr);
}
void DestroyHost(Wnd h) { tlpwin_DestroyWindow(h); }
bool Exists(Wnd h) { return tlpwin_IsWindow(h) != 0; }
std::vector<Wnd> Children(Wnd h) {
  std::vector<Wnd> out;
  for (Wnd c = tlpwin_GetFirstChild(h); c; c = tlpwin_GetNextSibling(c))
    out.push_back(c);
  return out;
}
PanelRect Placement(Wnd h) {
  TlpRect r{};
  tlpwin_GetWindowRect(h, &r);
  return PanelRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}
PanelRect ClientArea(Wnd h) {
  TlpRect r{};
  tlpwin_GetClientRect(h, &r);
  return PanelRect{0, 0, r.right, r.bottom};
}
uint32_t Style(Wnd h) { return tlpwin_GetStyle(h); }
std::string Text(Wnd h) {
  char buf[256];
  int32_t n = tlpwin_GetWindowText(h, buf, sizeof buf);
  return std::string(buf, static_cast<size_t>(std::min<int32_t>(std::max(n, 0), sizeof buf - 1)));
}
bool Checked(Wnd h) { return tlpwin_SendMessage(h, TLP_BM_GETCHECK, 0, 0) == TLP_BST_CHECKED; }
void Click(Wnd h) { tlpwin_SendMessage(h, TLP_BM_CLICK, 0, 0); }
void PumpOnce() {
  TlpMsg m;
  while (tlpwin_PeekMessage(&m, nullptr, 1))
    tlpwin_DispatchMessage(&m);
}
void *PanelObject(Wnd panel) { return reinterpret_cast<void *>(tlpwin_GetWindowData(panel)); }
bool IsRadioButton(Wnd h) { return (Style(h) & TLP_BS_TYPEMASK) == TLP_BS_RADIOBUTTON; }
bool IsGroupBox(Wnd h) { return (Style(h) & TLP_BS_TYPEMASK) == TLP_BS_GROUPBOX; }
int32_t BackgroundColour(Wnd h) { return tlpwin_GetClassBackground(h); }
struct FontSeen {
  int32_t height = 0, charset = -1, textHeight = 0;
  std::string face;
};
FontSeen FontOf(Wnd h) {
  FontSeen f;
  TlpHfont font = reinterpret_cast<TlpHfont>(tlpwin_SendMessage(h, TLP_WM_GETFONT, 0, 0));
  char face[64];
  if (!tlpwin_GetFontInfo(font, &f.height, &f.charset, face, sizeof face))
    return f;
  f.face = face;
  f.textHeight = tlpwin_GetTextHeight(font);
  return f;
}
const void *ClassInstance(Wnd h) { return tlpwin_GetClassInstance(h); }
bool ClassRegistered(const void *instance) {
  return tlpwin_IsClassRegistered("TExportOptionForm", instance) != 0;
}
const int32_t kBtnFace = TLP_COLOR_BTNFACE;
const uint32_t kPanelStyle = TLP_WS_CHILD | TLP_WS_VISIBLE | TLP_WS_CLIPSIBLINGS | TLP_WS_CLIPCHILDREN;
#endif

// ---- The panel through the plug-in ---------------------------------------------

// The texts in code page 932, byte for byte.
const char kCaption[] = "\x95\xcf\x8a\xb7\x95\xfb\x8e\xae"; // 変換方式
const char kFace[] = "\x82\x6c\x82\x72\x20\x82\x6f\x83\x53\x83\x56\x83\x62\x83\x4e"; // ＭＳ Ｐゴシック
const char *const kItems[6] = {
    "\x91\x53\x82\xc4\x83\x74\x83\x8b\x83\x4a\x83\x89\x81\x5b", // 全てフルカラー
    "\x91\x53\x82\xc4\x83\x6e\x83\x43\x83\x4a\x83\x89\x81\x5b", // 全てハイカラー
    // フルカラー と 可能ならば、256色 を使う
    "\x83\x74\x83\x8b\x83\x4a\x83\x89\x81\x5b\x20\x82\xc6\x20\x89\xc2\x94\x5c\x82\xc8\x82\xe7\x82\xce"
    "\x81\x41\x32\x35\x36\x90\x46\x20\x82\xf0\x8e\x67\x82\xa4",
    // ハイカラー と 可能ならば、256色 を使う
    "\x83\x6e\x83\x43\x83\x4a\x83\x89\x81\x5b\x20\x82\xc6\x20\x89\xc2\x94\x5c\x82\xc8\x82\xe7\x82\xce"
    "\x81\x41\x32\x35\x36\x90\x46\x20\x82\xf0\x8e\x67\x82\xa4",
    "\x8d\xc5\x93\x4b\x89\xbb\x20\x32\x35\x36\x90\x46", // 最適化 256色
    // ウィンドウズパレット 256色 強制変換
    "\x83\x45\x83\x42\x83\x93\x83\x68\x83\x45\x83\x59\x83\x70\x83\x8c\x83\x62\x83\x67\x20\x32\x35\x36"
    "\x90\x46\x20\x8b\xad\x90\xa7\x95\xcf\x8a\xb7",
};
const int32_t kHostCodes[6] = {2, 4, 6, 8, 9, 10};

// What EXPORT_BeforeTransform writes; none when it leaves the integer alone.
std::optional<int32_t> ReportedCode() {
  const int32_t kUntouched = -12345;
  int32_t code = kUntouched;
  Api().EXPORT_BeforeTransform(&code, 0);
  if (code == kUntouched)
    return std::nullopt;
  return code;
}

// Gives the plug-in any method, in range or not, by loading it from a store of
// this test's own that is gone afterwards.
void LoadMethodFromStore(int32_t method) {
  const char kKey[] = "Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga";
#if defined(_WIN32)
  std::string root = "Software\\TlpPanelTests\\" + std::to_string(_getpid());
  HKEY mapped = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &mapped, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, mapped), ERROR_SUCCESS);
  RegCloseKey(mapped);
#else
  const char *before = std::getenv("XDG_CONFIG_HOME");
  std::string saved = before ? before : "";
  std::string folder = TempFile::Folder() + "/panel-config";
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
#endif
  {
    tlp::registry::Key key;
    uint32_t v = static_cast<uint32_t>(method);
    const uint8_t data[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                             static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    EXPECT_EQ(tlp::registry::CreateKey(kKey, key.Receive()), tlp::registry::kSuccess);
    EXPECT_EQ(tlp::registry::SetValue(key.Get(), "TransformMethod", tlp::registry::kTypeDword, data, 4),
              tlp::registry::kSuccess);
  }
  Api().PLUGINCALLBACK(0);
#if defined(_WIN32)
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeA(HKEY_CURRENT_USER, root.c_str());
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\TlpPanelTests");
#else
  setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
#endif
}

// A panel's windows as a host finds them: the panel among the host window's
// children, its group box, and the radio buttons from top to bottom.
struct PanelWindows {
  Wnd panel = nullptr, group = nullptr;
  std::vector<Wnd> buttons;

  explicit PanelWindows(Wnd panelWindow) : panel(panelWindow) {
    std::vector<Wnd> inPanel = Children(panel);
    if (inPanel.size() != 1)
      return;
    group = inPanel[0];
    buttons = Children(group);
    std::sort(buttons.begin(), buttons.end(),
              [](Wnd a, Wnd b) { return Placement(a).top < Placement(b).top; });
  }
  // The checked item, -1 for none; -2 when more than one is checked.
  int Selected() const {
    int found = -1;
    for (size_t k = 0; k < buttons.size(); ++k)
      if (Checked(buttons[k]))
        found = found == -1 ? static_cast<int>(k) : -2;
    return found;
  }
};

class Panel : public ::testing::Test {
protected:
  void SetUp() override {
    host = MakeHost(400, 300);
    ASSERT_NE(host, nullptr);
  }
  void TearDown() override {
    PumpOnce();
    ChooseOnPanel(0); // leave the plug-in with its default
    DestroyHost(host);
    PumpOnce();
  }

  // EXPORT_EnterOption in the host window; the new panel's window.
  Wnd Enter() {
    std::vector<Wnd> before = Children(host);
    Api().EXPORT_EnterOption(host, host, 0);
    for (Wnd c : Children(host))
      if (std::find(before.begin(), before.end(), c) == before.end())
        return c;
    ADD_FAILURE() << "no new panel in the host window";
    return nullptr;
  }

  // The user picks item k and the host accepts it.
  void ChooseOnPanel(int k) {
    PanelWindows p(Enter());
    if (p.buttons.size() == 6)
      Click(p.buttons[static_cast<size_t>(k)]);
    Api().EXPORT_LeaveOption(1);
    PumpOnce();
  }

  Wnd host = nullptr;
};

struct LayoutAtText {
  int32_t textHeight;
  PanelRect group;
  int32_t buttonWidth, buttonHeight;
  int32_t tops[6];
};
// At 96 dpi; the group follows the measured height of the panel's font.
const LayoutAtText kLayouts[] = {
    {12, {8, 16, 241, 129}, 231, 18, {15, 33, 51, 69, 87, 105}},
    {13, {9, 17, 261, 140}, 251, 20, {15, 35, 55, 75, 95, 115}},
};

TEST_F(Panel, IsABorderlessChildThatFillsTheHostWindow) {
  Wnd panel = Enter();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(Children(host).size(), 1u);
#if defined(_WIN32)
  EXPECT_EQ(GetParent(panel), host);
  EXPECT_EQ(GetWindowLongA(panel, GWL_EXSTYLE), 0);
#else
  EXPECT_EQ(tlpwin_GetParent(panel), host);
#endif
  EXPECT_EQ(Style(panel), 0x56000000u);
  EXPECT_EQ(Style(panel), kPanelStyle);
  EXPECT_EQ(Placement(panel), ClientArea(host));
  EXPECT_EQ(Placement(panel).left, 0);
  EXPECT_EQ(Text(panel), "ExportOptionForm");
  EXPECT_EQ(BackgroundColour(panel), kBtnFace);
  Api().EXPORT_LeaveOption(0);
}

TEST_F(Panel, GroupAndButtonsSitWhereTheLayoutPutsThem) {
  PanelWindows p(Enter());
  ASSERT_NE(p.group, nullptr);
  ASSERT_EQ(p.buttons.size(), 6u);
  EXPECT_TRUE(IsGroupBox(p.group));
  EXPECT_EQ(Text(p.group), kCaption);

  FontSeen font = FontOf(p.group);
  EXPECT_EQ(font.height, -12);
  EXPECT_EQ(font.charset, 128);
  EXPECT_EQ(font.face, kFace);
  const LayoutAtText *layout = nullptr;
  for (const LayoutAtText &l : kLayouts)
    if (l.textHeight == font.textHeight)
      layout = &l;
  ASSERT_NE(layout, nullptr) << "the panel's font measures " << font.textHeight << " pixels";
#if !defined(_WIN32)
  EXPECT_EQ(font.textHeight, 12) << "the stand-in's font is the design's";
#endif
  EXPECT_EQ(Placement(p.group), layout->group);
  for (size_t k = 0; k < 6; ++k) {
    SCOPED_TRACE(testing::Message() << "button " << k);
    EXPECT_EQ(Placement(p.buttons[k]),
              (PanelRect{8, layout->tops[k], layout->buttonWidth, layout->buttonHeight}));
    EXPECT_EQ(Text(p.buttons[k]), kItems[k]);
    EXPECT_TRUE(IsRadioButton(p.buttons[k]));
    FontSeen f = FontOf(p.buttons[k]);
    EXPECT_EQ(f.height, -12);
    EXPECT_EQ(f.face, kFace);
  }
  Api().EXPORT_LeaveOption(0);
}

#if defined(_WIN32)
TEST_F(Panel, DrawsWindowTextOnButtonFace) {
  PanelWindows p(Enter());
  ASSERT_EQ(p.buttons.size(), 6u);
  HDC dc = CreateCompatibleDC(nullptr);
  // The group box asks the panel; the radio buttons ask the group box.
  for (Wnd asked : {p.panel, p.group}) {
    SetTextColor(dc, RGB(1, 2, 3));
    LRESULT brush = SendMessageA(asked, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(p.buttons[0]));
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_BTNFACE));
  }
  DeleteDC(dc);
  Api().EXPORT_LeaveOption(0);
}
#else
TEST_F(Panel, TextsUseWindowTextColour) {
  PanelWindows p(Enter());
  ASSERT_EQ(p.buttons.size(), 6u);
  for (Wnd w : p.buttons)
    EXPECT_EQ(tlpwin_GetTextColor(w), TLP_COLOR_WINDOWTEXT);
  EXPECT_EQ(tlpwin_GetTextColor(p.group), TLP_COLOR_WINDOWTEXT);
  Api().EXPORT_LeaveOption(0);
}

TEST_F(Panel, ScalesWithTheScreenResolution) {
  tlpwin_SetScreenPixelsPerInch(120);
  PanelWindows p(Enter());
  tlpwin_SetScreenPixelsPerInch(96);
  ASSERT_EQ(p.buttons.size(), 6u);
  EXPECT_EQ(FontOf(p.group).height, -15);
  EXPECT_EQ(Placement(p.group), (PanelRect{10, 20, 301, 161}));
  EXPECT_EQ(Placement(p.buttons[0]), (PanelRect{8, 17, 291, 23}));
  EXPECT_EQ(Placement(p.buttons[5]), (PanelRect{8, 132, 291, 23}));
  EXPECT_EQ(Placement(p.panel), ClientArea(host)) << "still fills the host window";
  Api().EXPORT_LeaveOption(0);
}
#endif

TEST_F(Panel, OpensWithTheCurrentMethodSelected) {
  // In range by the user's own choice, outside it from the store.
  for (int k = 0; k < 6; ++k) {
    ChooseOnPanel(k);
    PanelWindows p(Enter());
    EXPECT_EQ(p.Selected(), k);
    Api().EXPORT_LeaveOption(0);
    PumpOnce();
  }
  const int32_t cases[][2] = {{3, 3}, {7, 5}, {-1, -1}, {-5, -1}, {127, 5}, {-128, -1}};
  for (auto &c : cases) {
    LoadMethodFromStore(c[0]);
    PanelWindows p(Enter());
    EXPECT_EQ(p.Selected(), c[1]) << "method " << c[0];
    Api().EXPORT_LeaveOption(0);
    PumpOnce();
  }
}

TEST_F(Panel, ClickMovesTheSelectionOnlyOnThePanel) {
  ChooseOnPanel(1);
  PanelWindows p(Enter());
  ASSERT_EQ(p.buttons.size(), 6u);
  EXPECT_EQ(p.Selected(), 1);
  Click(p.buttons[4]);
  EXPECT_EQ(p.Selected(), 4);
  Click(p.buttons[4]);
  EXPECT_EQ(p.Selected(), 4);
  Click(p.buttons[2]);
  EXPECT_EQ(p.Selected(), 2);
  EXPECT_EQ(ReportedCode(), 4) << "the method is still the one before the panel";
  Api().EXPORT_LeaveOption(0);
}

TEST_F(Panel, LeaveTakesTheSelectionOverOnlyWhenAccepted) {
  ChooseOnPanel(0);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(testing::Message() << "item " << k);
    PanelWindows p(Enter());
    ASSERT_EQ(p.buttons.size(), 6u);
    Click(p.buttons[static_cast<size_t>(k)]);
    Api().EXPORT_LeaveOption(1);
    PumpOnce();
    EXPECT_EQ(ReportedCode(), kHostCodes[k]);

    PanelWindows q(Enter());
    Click(q.buttons[static_cast<size_t>((k + 3) % 6)]);
    Api().EXPORT_LeaveOption(0);
    PumpOnce();
    EXPECT_EQ(ReportedCode(), kHostCodes[k]) << "declined";
  }
  // Any non-zero flag accepts.
  PanelWindows p(Enter());
  Click(p.buttons[4]);
  Api().EXPORT_LeaveOption(-7);
  PumpOnce();
  EXPECT_EQ(ReportedCode(), 9);
}

TEST_F(Panel, AcceptingWithNothingSelectedKeepsTheMethod) {
  LoadMethodFromStore(-1);
  PanelWindows p(Enter());
  EXPECT_EQ(p.Selected(), -1);
  Api().EXPORT_LeaveOption(1);
  PumpOnce();
  EXPECT_EQ(ReportedCode(), std::nullopt);
  // The method is still -1: the next panel opens with nothing selected.
  PanelWindows q(Enter());
  EXPECT_EQ(q.Selected(), -1);
  Api().EXPORT_LeaveOption(1);
}

TEST_F(Panel, GoesAtTheNextTurnOfTheMessageLoop) {
  Wnd panel = Enter();
  PanelWindows p(panel);
  ASSERT_EQ(p.buttons.size(), 6u);
  void *form = *Api().ExportOptionForm;
  EXPECT_NE(form, nullptr);
  EXPECT_EQ(PanelObject(panel), form);
  Api().EXPORT_LeaveOption(1);
  EXPECT_TRUE(Exists(panel)) << "not destroyed inside EXPORT_LeaveOption";
  EXPECT_TRUE(Exists(p.buttons[5]));
  EXPECT_EQ(*Api().ExportOptionForm, form) << "not cleared";
  PumpOnce();
  EXPECT_FALSE(Exists(panel));
  EXPECT_FALSE(Exists(p.group));
  for (Wnd b : p.buttons)
    EXPECT_FALSE(Exists(b));
  EXPECT_TRUE(Children(host).empty());
  EXPECT_EQ(*Api().ExportOptionForm, form) << "not cleared";
}

TEST_F(Panel, TwoEntersMakeTwoPanels) {
  Wnd first = Enter();
  void *firstForm = *Api().ExportOptionForm;
  Wnd second = Enter();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(Children(host).size(), 2u);
  void *secondForm = *Api().ExportOptionForm;
  EXPECT_NE(secondForm, firstForm);
  EXPECT_EQ(PanelObject(second), secondForm);
  EXPECT_EQ(PanelObject(first), firstForm);
  // The release is the second panel's; the first stays in its parent.
  Api().EXPORT_LeaveOption(0);
  PumpOnce();
  EXPECT_FALSE(Exists(second));
  EXPECT_TRUE(Exists(first));
  EXPECT_EQ(PanelWindows(first).buttons.size(), 6u);
  // It goes with the host window.
}

TEST_F(Panel, PanelsInTwoHostsAreIndependent) {
  Wnd other = MakeHost(300, 200);
  ChooseOnPanel(2);
  PanelWindows a(Enter());
  Api().EXPORT_EnterOption(other, other, 0);
  ASSERT_EQ(Children(other).size(), 1u);
  PanelWindows b(Children(other)[0]);
  EXPECT_EQ(Placement(b.panel), ClientArea(other));
  Click(a.buttons[5]);
  EXPECT_EQ(a.Selected(), 5);
  EXPECT_EQ(b.Selected(), 2);
  DestroyHost(other);
  EXPECT_FALSE(Exists(b.panel));
  // The host destroyed the panel ExportOptionForm refers to; leaving it is
  // harmless and takes over what it had selected.
  Api().EXPORT_LeaveOption(1);
  PumpOnce();
  EXPECT_EQ(ReportedCode(), 6);
  EXPECT_TRUE(Exists(a.panel));
}

TEST_F(Panel, AParentThatIsGoneGetsNoPanelAndLeaveIsHarmless) {
  ChooseOnPanel(3);
  Wnd gone = MakeHost(200, 100);
  DestroyHost(gone);
  Api().EXPORT_EnterOption(host, gone, 0);
  EXPECT_EQ(*Api().ExportOptionForm, nullptr) << "no panel to refer to";
  Api().EXPORT_LeaveOption(1);
  PumpOnce();
  EXPECT_EQ(ReportedCode(), 8) << "no earlier panel's selection is taken over";
  EXPECT_TRUE(Children(host).empty());
}

#if !defined(_WIN32)
// ---- The headless window library itself ----------------------------------------

std::vector<std::pair<uintptr_t, uint32_t>> g_seen; // (window, message)

TlpLresult Recording(TlpHwnd h, uint32_t msg, TlpWparam w, TlpLparam l) {
  if (msg == TLP_WM_DESTROY || msg == TLP_WM_NCDESTROY || msg >= TLP_WM_USER)
    g_seen.push_back({reinterpret_cast<uintptr_t>(h), msg});
  return tlpwin_DefWindowProc(h, msg, w, l);
}

TEST(TlpWin, DestroysParentsFirstAndFinishesChildrenFirst) {
  static const char kInstance = 0;
  ASSERT_TRUE(tlpwin_RegisterClass("TlpWinTest", &kInstance, Recording, -1));
  EXPECT_FALSE(tlpwin_RegisterClass("TlpWinTest", &kInstance, Recording, -1)) << "twice";
  TlpHwnd top = tlpwin_CreateWindow("TlpWinTest", &kInstance, "", 0, 0, 0, 10, 10, nullptr, 0, nullptr);
  TlpHwnd child = tlpwin_CreateWindow("TlpWinTest", &kInstance, "", TLP_WS_CHILD, 1, 2, 3, 4, top, 0, nullptr);
  ASSERT_TRUE(top && child);
  EXPECT_EQ(tlpwin_CreateWindow("TlpWinTest", &kInstance, "", TLP_WS_CHILD, 0, 0, 1, 1, nullptr, 0, nullptr),
            nullptr)
      << "a child needs a parent";
  EXPECT_FALSE(tlpwin_UnregisterClass("TlpWinTest", &kInstance)) << "windows of the class exist";
  g_seen.clear();
  ASSERT_TRUE(tlpwin_DestroyWindow(top));
  auto k = [](TlpHwnd h) { return reinterpret_cast<uintptr_t>(h); };
  EXPECT_EQ(g_seen, (std::vector<std::pair<uintptr_t, uint32_t>>{{k(top), TLP_WM_DESTROY},
                                                               {k(child), TLP_WM_DESTROY},
                                                               {k(child), TLP_WM_NCDESTROY},
                                                               {k(top), TLP_WM_NCDESTROY}}));
  EXPECT_FALSE(tlpwin_IsWindow(child));
  EXPECT_FALSE(tlpwin_DestroyWindow(top)) << "a stale handle is not a window";
  EXPECT_TRUE(tlpwin_UnregisterClass("TlpWinTest", &kInstance));
}

TEST(TlpWin, PostedMessagesWaitInTheOwningThreadsQueue) {
  static const char kInstance = 0;
  tlpwin_RegisterClass("TlpWinQueue", &kInstance, Recording, -1);
  TlpHwnd w = tlpwin_CreateWindow("TlpWinQueue", &kInstance, "", 0, 0, 0, 1, 1, nullptr, 0, nullptr);
  g_seen.clear();
  std::thread other([&] {
    EXPECT_TRUE(tlpwin_PostMessage(w, TLP_WM_USER + 1, 0, 0));
    TlpMsg m;
    EXPECT_FALSE(tlpwin_PeekMessage(&m, nullptr, 1)) << "not this thread's window";
    EXPECT_FALSE(tlpwin_DestroyWindow(w)) << "only the owner destroys";
  });
  other.join();
  tlpwin_PostMessage(w, TLP_WM_USER + 2, 0, 0);
  EXPECT_TRUE(g_seen.empty()) << "nothing runs until the loop dispatches";
  PumpOnce();
  auto k = reinterpret_cast<uintptr_t>(w);
  EXPECT_EQ(g_seen, (std::vector<std::pair<uintptr_t, uint32_t>>{{k, TLP_WM_USER + 1}, {k, TLP_WM_USER + 2}}));
  tlpwin_PostMessage(w, TLP_WM_USER + 3, 0, 0);
  tlpwin_DestroyWindow(w);
  g_seen.clear();
  PumpOnce();
  EXPECT_TRUE(g_seen.empty()) << "a message for a window that is gone is dropped";
  tlpwin_UnregisterClass("TlpWinQueue", &kInstance);
}

TEST(TlpWin, AutomaticRadioButtonsClearTheirSiblings) {
  TlpHwnd host = MakeHost(100, 100);
  TlpHwnd a = tlpwin_CreateWindow(TLP_BUTTON_CLASS, nullptr, "a", TLP_WS_CHILD | TLP_BS_AUTORADIOBUTTON, 0, 0,
                                  10, 10, host, 1, nullptr);
  TlpHwnd b = tlpwin_CreateWindow(TLP_BUTTON_CLASS, nullptr, "b", TLP_WS_CHILD | TLP_BS_AUTORADIOBUTTON, 0, 10,
                                  10, 10, host, 2, nullptr);
  TlpHwnd plain = tlpwin_CreateWindow(TLP_BUTTON_CLASS, nullptr, "c", TLP_WS_CHILD | TLP_BS_RADIOBUTTON, 0, 20,
                                      10, 10, host, 3, nullptr);
  Click(a);
  Click(b);
  EXPECT_FALSE(Checked(a));
  EXPECT_TRUE(Checked(b));
  Click(plain);
  EXPECT_FALSE(Checked(plain)) << "a plain radio button only reports the click";
  EXPECT_TRUE(Checked(b));
  DestroyHost(host);
}
#endif

// A second copy of the library, loaded and unloaded by the test. Its panels
// and their class go in PLUGOUTCALLBACK, which hosts call before unloading;
// without it the library stays loaded while the class stands, and the panels
// keep working.
TEST(PanelModule, PanelsGoBeforeUnloadingAndNeverOutliveTheLibrary) {
  std::string copy = TempFile::Folder() + "/TargaCopy.tlp";
  std::filesystem::copy_file(DefaultPluginPath(), copy, std::filesystem::copy_options::overwrite_existing);
  auto loaded = [&] {
#if defined(_WIN32)
    return GetModuleHandleA("TargaCopy.tlp") != nullptr;
#else
    void *m = dlopen(copy.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    return m && dlclose(m) == 0;
#endif
  };
  for (bool notified : {true, false}) {
    SCOPED_TRACE(notified ? "PLUGOUTCALLBACK first" : "no PLUGOUTCALLBACK");
    Wnd host = MakeHost(320, 200);
    Plugin plugin;
    std::string error;
    ASSERT_TRUE(plugin.Load(copy, &error)) << error;
    plugin.Api().EXPORT_EnterOption(host, host, 0);
    plugin.Api().EXPORT_EnterOption(host, host, 0);
    std::vector<Wnd> panels = Children(host);
    ASSERT_EQ(panels.size(), 2u);
    Wnd kept = panels[0], released = panels[1];
    if (PanelObject(kept) == *plugin.Api().ExportOptionForm)
      std::swap(kept, released);
    const void *instance = ClassInstance(kept);
    EXPECT_TRUE(ClassRegistered(instance));
    // The second panel's release is still queued when the library goes.
    plugin.Api().EXPORT_LeaveOption(1);
    if (notified)
      plugin.Api().PLUGOUTCALLBACK();
    plugin.Unload();
    EXPECT_EQ(loaded(), !notified) << "held by its window class";
    if (!notified) {
      PanelWindows p(kept);
      ASSERT_EQ(p.buttons.size(), 6u);
      Click(p.buttons[3]);
      EXPECT_EQ(p.Selected(), 3);
      PumpOnce();
      EXPECT_FALSE(Exists(released)) << "the queued release is carried out";
      ASSERT_TRUE(plugin.Load(copy, &error)) << error;
      plugin.Api().PLUGOUTCALLBACK();
      plugin.Unload();
    }
    EXPECT_FALSE(loaded());
    EXPECT_FALSE(Exists(kept));
    EXPECT_FALSE(Exists(released));
    EXPECT_FALSE(ClassRegistered(instance));
    PumpOnce(); // a queued release finds no window
    DestroyHost(host);
  }
  std::error_code ec;
  std::filesystem::remove(copy, ec);
}

} // namespace
