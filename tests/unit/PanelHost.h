// A host window for the plug-in's panel in the tests, as a host makes one,
// and the fixture that puts the panel in it: shared by the panel's tests and
// those of tga-host's dialog around it.
#pragma once

#include "TestSupport.h"

#include "PanelModel.h"
#include "Store.h"
#include "TlpWin.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#endif

using tlpwin::Window;
using tlpwin::Children;
using tlpwin::Click;
using tlpwin::Exists;
using tlpwin::Placement;
using tlpwin::Text;

// A host's top-level window: on Windows it has a frame and a caption, so its
// client area is smaller than the window.
inline Window MakeHost(int width, int height) {
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

inline tlpwin::Rect ClientArea(Window w) {
  tlpwin::Rect r;
  tlpwin::ClientArea(w, &r);
  return r;
}

// Where the model's rectangle is the window's.
inline bool operator==(const tlpwin::Rect &a, const PanelRect &b) {
  return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

// One turn of the host's message loop: everything queued now is dispatched.
inline void PumpOnce() { tlpwin::PumpMessages(); }

// Gives the plug-in any method, in range or not, by loading it from a store of
// this test's own that is gone afterwards.
inline void LoadMethodFromStore(int32_t method) {
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
  EXPECT_TRUE(tlp::store::SaveDword(tlp::store::kMethodValue, static_cast<uint32_t>(method)));
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
