// The export options panel inside a host window, driven through the loaded
// plug-in and read back through tlpwin as a host reads it: the system's
// windows on Windows, the headless stand-in elsewhere.
#include "TestSupport.h"

#include "PanelModel.h"
#include "Registry.h"
#include "TlpWin.h"
#if defined(TLP_TEST_HOST_DIALOG)
#include "Dialog.h"
#endif

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#if defined(_WIN32)
#include <windows.h>
#include <process.h>
#else
#include <dlfcn.h>
#endif

namespace {

using tlpwin::Window;
using tlpwin::Children;
using tlpwin::Click;
using tlpwin::Exists;
using tlpwin::Placement;
using tlpwin::Text;

// A host's top-level window: on Windows it has a frame and a caption, so its
// client area is smaller than the window.
Window MakeHost(int width, int height) {
  static const char kClass[] = "TlpPanelTestHost";
  static const bool registered = tlpwin::RegisterWindowClass(kClass, kClass);
  if (!registered)
    return nullptr;
  tlpwin::WindowSpec spec;
  spec.className = kClass;
  spec.module = kClass;
  spec.text = "host";
  spec.rect = tlpwin::Rect{0, 0, width, height};
  return tlpwin::Create(spec);
}

PanelRect ClientArea(Window w) {
  PanelRect r;
  tlpwin::ClientArea(w, &r);
  return r;
}

// One turn of the host's message loop: everything queued now is dispatched.
void PumpOnce() { tlpwin::PumpMessages(); }

void *PanelObject(Window panel) { return static_cast<void *>(tlpwin::HandlerOf(panel)); }
uint32_t Kind(Window button) { return tlpwin::Style(button) & tlpwin::kButtonKindMask; }

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
  Window panel = nullptr, group = nullptr;
  std::vector<Window> buttons;

  explicit PanelWindows(Window panelWindow) : panel(panelWindow) {
    std::vector<Window> inPanel = Children(panel);
    if (inPanel.size() != 1)
      return;
    group = inPanel[0];
    buttons = Children(group);
    std::sort(buttons.begin(), buttons.end(),
              [](Window a, Window b) { return Placement(a).top < Placement(b).top; });
  }
  // The checked item, -1 for none; -2 when more than one is checked.
  int Selected() const {
    int found = -1;
    for (size_t k = 0; k < buttons.size(); ++k)
      if (tlpwin::IsChecked(buttons[k]))
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
    tlpwin::Destroy(host);
    PumpOnce();
  }

  // EXPORT_EnterOption in the host window; the new panel's window.
  Window Enter() {
    std::vector<Window> before = Children(host);
    Api().EXPORT_EnterOption(host, host, 0);
    for (Window c : Children(host))
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

  Window host = nullptr;
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
  Window panel = Enter();
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(Children(host).size(), 1u);
  EXPECT_EQ(tlpwin::Parent(panel), host);
  EXPECT_EQ(tlpwin::Style(panel), 0x56000000u); // child, visible, clipping; no caption, frame or pop-up
  EXPECT_EQ(Placement(panel), ClientArea(host));
  EXPECT_EQ(Placement(panel).left, 0);
  EXPECT_EQ(Text(panel), "ExportOptionForm");
#if defined(_WIN32)
  EXPECT_EQ(GetWindowLongA(static_cast<HWND>(panel), GWL_EXSTYLE), WS_EX_CONTROLPARENT) << "for the keys";
  EXPECT_EQ(GetClassLongPtrA(static_cast<HWND>(panel), GCLP_HBRBACKGROUND), COLOR_BTNFACE + 1);
#endif
  Api().EXPORT_LeaveOption(0);
}

TEST_F(Panel, GroupAndButtonsSitWhereTheLayoutPutsThem) {
  PanelWindows p(Enter());
  ASSERT_NE(p.group, nullptr);
  ASSERT_EQ(p.buttons.size(), 6u);
  EXPECT_EQ(Kind(p.group), tlpwin::kGroupBox);
  EXPECT_EQ(Text(p.group), kCaption);

  tlpwin::FontInfo font = tlpwin::FontOf(p.group);
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
    EXPECT_EQ(Kind(p.buttons[k]), tlpwin::kAutoRadioButton);
    EXPECT_EQ((tlpwin::Style(p.buttons[k]) & tlpwin::kGroup) != 0, k == 0) << "one group";
    tlpwin::FontInfo f = tlpwin::FontOf(p.buttons[k]);
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
  for (Window asked : {p.panel, p.group}) {
    SetTextColor(dc, RGB(1, 2, 3));
    LRESULT brush = SendMessageA(static_cast<HWND>(asked), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                 reinterpret_cast<LPARAM>(p.buttons[0]));
    EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(reinterpret_cast<HBRUSH>(brush), GetSysColorBrush(COLOR_BTNFACE));
  }
  DeleteDC(dc);
  Api().EXPORT_LeaveOption(0);
}
#else
TEST_F(Panel, ScalesWithTheScreenResolution) {
  tlpwin::SetScreenPixelsPerInch(120);
  PanelWindows p(Enter());
  tlpwin::SetScreenPixelsPerInch(96);
  ASSERT_EQ(p.buttons.size(), 6u);
  EXPECT_EQ(tlpwin::FontOf(p.group).height, -15);
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
  const int32_t cases[][2] = {{3, 3}, {7, 5}, {-1, -1}, {-5, -1}, {127, 5}, {-128, -1}, {0, 0}};
  for (auto &c : cases) {
    LoadMethodFromStore(c[0]);
    PanelWindows p(Enter());
    EXPECT_EQ(p.Selected(), c[1]) << "method " << c[0];
    // Tab reaches the group at its checked item, or the first when none is.
    for (int k = 0; k < static_cast<int>(p.buttons.size()); ++k)
      EXPECT_EQ((tlpwin::Style(p.buttons[static_cast<size_t>(k)]) & tlpwin::kTabStop) != 0,
                k == std::max(c[1], 0))
          << "method " << c[0] << ", item " << k;
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
  Window panel = Enter();
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
  for (Window b : p.buttons)
    EXPECT_FALSE(Exists(b));
  EXPECT_TRUE(Children(host).empty());
  EXPECT_EQ(*Api().ExportOptionForm, form) << "not cleared";
}

TEST_F(Panel, TwoEntersMakeTwoPanels) {
  Window first = Enter();
  void *firstForm = *Api().ExportOptionForm;
  Window second = Enter();
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
  Window other = MakeHost(300, 200);
  ChooseOnPanel(2);
  PanelWindows a(Enter());
  Api().EXPORT_EnterOption(other, other, 0);
  ASSERT_EQ(Children(other).size(), 1u);
  PanelWindows b(Children(other)[0]);
  EXPECT_EQ(Placement(b.panel), ClientArea(other));
  Click(a.buttons[5]);
  EXPECT_EQ(a.Selected(), 5);
  EXPECT_EQ(b.Selected(), 2);
  tlpwin::Destroy(other);
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
  Window gone = MakeHost(200, 100);
  tlpwin::Destroy(gone);
  Api().EXPORT_EnterOption(host, gone, 0);
  EXPECT_EQ(*Api().ExportOptionForm, nullptr) << "no panel to refer to";
  Api().EXPORT_LeaveOption(1);
  PumpOnce();
  EXPECT_EQ(ReportedCode(), 8) << "no earlier panel's selection is taken over";
  EXPECT_TRUE(Children(host).empty());
}

#if defined(TLP_TEST_HOST_DIALOG)
// ---- The host's options dialog around the panel ------------------------------

class Dialog : public Panel {};
using Answer = OptionsDialog::Answer;

TEST_F(Dialog, HoldsThePanelAboveOkAndCancelAndAnswersTheirClicks) {
  ChooseOnPanel(4);
  {
    OptionsDialog d(Api(), false);
    ASSERT_EQ(d.Error(), "");
    EXPECT_EQ(Text(d.Window()), "Targa export options");
    EXPECT_EQ(d.Panel().Checked(), 4);
    // In tab order: the panel's place, then OK, which starts a group, then Cancel.
    std::vector<Window> controls = Children(d.Window());
    ASSERT_EQ(controls.size(), 3u);
    EXPECT_EQ(controls[1], d.Button(tlpwin::kOkId));
    EXPECT_EQ(controls[2], d.Button(tlpwin::kCancelId));
    ASSERT_EQ(Children(controls[0]).size(), 1u);
    EXPECT_EQ(Placement(Children(controls[0])[0]), ClientArea(controls[0])) << "the panel fills its place";
    const uint32_t okStyle = tlpwin::Style(controls[1]), cancelStyle = tlpwin::Style(controls[2]);
    EXPECT_EQ(okStyle & (tlpwin::kTabStop | tlpwin::kGroup | tlpwin::kButtonKindMask),
              tlpwin::kTabStop | tlpwin::kGroup | tlpwin::kDefPushButton);
    EXPECT_EQ(cancelStyle & (tlpwin::kTabStop | tlpwin::kGroup | tlpwin::kButtonKindMask), tlpwin::kTabStop);
    EXPECT_GE(Placement(controls[1]).top, Placement(controls[0]).height) << "below the panel";
#if defined(_WIN32)
    EXPECT_NE(GetWindowLongA(static_cast<HWND>(controls[0]), GWL_EXSTYLE) & WS_EX_CONTROLPARENT, 0);
#endif
  }
  EXPECT_EQ(ReportedCode(), 9) << "a dialog never answered declines";
  // The item clicked, then the button.
  const struct {
    int item, button;
    Answer answer;
    int32_t code;
  } cases[] = {{1, tlpwin::kOkId, Answer::kOk, 4}, {3, tlpwin::kCancelId, Answer::kCancel, 4},
               {5, tlpwin::kOkId, Answer::kOk, 10}};
  for (const auto &c : cases) {
    OptionsDialog d(Api(), false);
    d.Panel().Click(c.item);
    Click(d.Button(c.button));
    Click(d.Button(tlpwin::kOkId + tlpwin::kCancelId - c.button)); // the first answer counts
    d.Run();
    EXPECT_EQ(d.Given(), c.answer) << "item " << c.item;
    EXPECT_TRUE(d.Finish());
    EXPECT_EQ(ReportedCode(), c.code) << "item " << c.item;
  }
}

#if defined(_WIN32)
// Keys as a person types them: to the window with the focus, taken by the
// dialog's loop. D and U are the down and up arrows, T Tab, S Shift+Tab,
// E Enter, X Esc, and C closes the window.
void Type(const OptionsDialog &d, char key) {
  if (key == 'C') {
    PostMessageA(static_cast<HWND>(d.Window()), WM_CLOSE, 0, 0);
    return;
  }
  BYTE keys[256];
  GetKeyboardState(keys);
  keys[VK_SHIFT] = key == 'S' ? 0x80 : 0;
  SetKeyboardState(keys);
  const WPARAM vk = key == 'D' ? VK_DOWN : key == 'U' ? VK_UP : key == 'E' ? VK_RETURN : key == 'X' ? VK_ESCAPE : VK_TAB;
  PostMessageA(GetFocus(), WM_KEYDOWN, vk, 1);
}

const int kOnOk = 10, kOnCancel = 11;
// The item with the focus, kOnOk or kOnCancel; -1 for anything else.
int Focused(OptionsDialog &d) {
  HWND f = GetFocus();
  for (int k = 0; k < 6; ++k)
    if (f == d.Panel().ItemWindow(k))
      return k;
  return f == d.Button(tlpwin::kOkId) ? kOnOk : f == d.Button(tlpwin::kCancelId) ? kOnCancel : -1;
}

TEST_F(Dialog, TabReachesTheCheckedItemAndTheArrowsMoveTheSelection) {
  ChooseOnPanel(2);
  OptionsDialog d(Api(), true);
  ASSERT_EQ(d.Error(), "");
  EXPECT_EQ(Focused(d), 2) << "the checked item is the first tab stop";
  const struct {
    char key;
    int focus, checked;
  } steps[] = {{'D', 3, 3},        {'T', kOnOk, 3}, {'T', kOnCancel, 3}, {'T', 3, 3}, // back at the checked item
               {'U', 2, 2},        {'U', 1, 1},     {'U', 0, 0},
               {'U', 5, 5},        {'D', 0, 0}, // round within the group
               {'T', kOnOk, 0},    {'S', 0, 0},     {'S', kOnCancel, 0}, {'T', 0, 0}};
  for (const auto &s : steps) {
    Type(d, s.key);
    tlpwin::PumpMessages(d.Window());
    EXPECT_EQ(Focused(d), s.focus) << "after " << s.key;
    EXPECT_EQ(d.Panel().Checked(), s.checked) << "after " << s.key;
  }
  Type(d, 'D'); // one more arrow, with Shift let go
  tlpwin::PumpMessages(d.Window());
  EXPECT_EQ(d.Given(), Answer::kNone);
  EXPECT_EQ(ReportedCode(), 6) << "nothing taken over before OK";
  EXPECT_EQ(d.Panel().Checked(), 1);
}

TEST_F(Dialog, EnterIsOkEscAndClosingAreCancel) {
  const struct {
    int32_t method;
    const char *keys;
    Answer answer;
    std::optional<int32_t> code;
  } cases[] = {
      {1, "E", Answer::kOk, 4},          {1, "DDE", Answer::kOk, 8},     {1, "DTE", Answer::kOk, 6},
      {1, "DTTE", Answer::kCancel, 4},   {1, "DX", Answer::kCancel, 4},  {1, "DC", Answer::kCancel, 4},
      {-1, "DE", Answer::kOk, 4},        {-1, "E", Answer::kOk, std::nullopt}, // OK with nothing checked
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "method " << c.method << ", keys " << c.keys);
    if (c.method < 0)
      LoadMethodFromStore(c.method);
    else
      ChooseOnPanel(c.method);
    OptionsDialog d(Api(), true);
    const std::string keys = c.keys;
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
      Type(d, keys[i]);
      tlpwin::PumpMessages(d.Window());
    }
    // The last key through the loop that waits for a person; closing the
    // window after it ends the loop even when the key did not.
    Type(d, keys.back());
    PostMessageA(static_cast<HWND>(d.Window()), WM_CLOSE, 0, 0);
    d.Run();
    EXPECT_EQ(d.Given(), c.answer);
    EXPECT_TRUE(d.Finish());
    EXPECT_EQ(ReportedCode(), c.code);
  }
}
#endif
#endif

// A second copy of the library, loaded and unloaded by the test. Its panels
// and their class go in PLUGOUTCALLBACK, which hosts call before unloading;
// without it the library stays loaded while the class stands, and the panels
// keep working. A PLUGOUTCALLBACK on another thread cannot destroy them: they
// are cut loose, and the class keeps the library until they are gone.
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
  enum Mode { kNotified, kNotNotified, kNotifiedOnAnotherThread };
  for (Mode mode : {kNotified, kNotNotified, kNotifiedOnAnotherThread}) {
    SCOPED_TRACE(testing::Message() << "mode " << mode);
    Window host = MakeHost(320, 200);
    Plugin plugin;
    std::string error;
    ASSERT_TRUE(plugin.Load(copy, &error)) << error;
    plugin.Api().EXPORT_EnterOption(host, host, 0);
    plugin.Api().EXPORT_EnterOption(host, host, 0);
    std::vector<Window> panels = Children(host);
    ASSERT_EQ(panels.size(), 2u);
    Window kept = panels[0], released = panels[1];
    if (PanelObject(kept) == *plugin.Api().ExportOptionForm)
      std::swap(kept, released);
    const void *instance = tlpwin::ClassInstance(kept);
    EXPECT_TRUE(tlpwin::ClassRegistered("TExportOptionForm", instance));
    // The second panel's release is still queued when the library goes.
    plugin.Api().EXPORT_LeaveOption(1);
    if (mode == kNotified)
      plugin.Api().PLUGOUTCALLBACK();
    if (mode == kNotifiedOnAnotherThread)
      std::thread([&] { plugin.Api().PLUGOUTCALLBACK(); }).join();
    plugin.Unload();
    EXPECT_EQ(loaded(), mode != kNotified) << "held by its window class";
    if (mode == kNotifiedOnAnotherThread) {
      // The objects are gone; their windows call no code of it. The radio
      // buttons still check themselves, as the system's do.
      EXPECT_EQ(PanelObject(kept), nullptr);
      PanelWindows p(kept);
      ASSERT_EQ(p.buttons.size(), 6u);
      const int other = p.Selected() == 3 ? 4 : 3;
      Click(p.buttons[static_cast<size_t>(other)]);
      EXPECT_EQ(p.Selected(), other);
      PumpOnce();
      EXPECT_TRUE(Exists(released)) << "its release is not carried out";
      tlpwin::Destroy(host);
    }
    if (mode == kNotNotified) {
      PanelWindows p(kept);
      ASSERT_EQ(p.buttons.size(), 6u);
      Click(p.buttons[3]);
      EXPECT_EQ(p.Selected(), 3);
      PumpOnce();
      EXPECT_FALSE(Exists(released)) << "the queued release is carried out";
    }
    if (mode != kNotified) {
      ASSERT_TRUE(plugin.Load(copy, &error)) << error;
      plugin.Api().PLUGOUTCALLBACK();
      plugin.Unload();
    }
    EXPECT_FALSE(loaded());
    EXPECT_FALSE(Exists(kept));
    EXPECT_FALSE(Exists(released));
    EXPECT_FALSE(tlpwin::ClassRegistered("TExportOptionForm", instance));
    PumpOnce(); // a queued release finds no window
    tlpwin::Destroy(host);
  }
  std::error_code ec;
  std::filesystem::remove(copy, ec);
}

} // namespace
