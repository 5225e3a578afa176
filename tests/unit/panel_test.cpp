// The export options panel inside a host window, driven through the loaded
// plug-in and read back through tlpwin as a host reads it: the system's
// windows on Windows, the headless stand-in elsewhere.
#include "PanelHost.h"

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
