// The window operations as the panel relies on them, in both implementations:
// the system's under Wine, the headless stand-in natively.
#include "TlpWin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

const char kClass[] = "TlpWinTest";

// What windows of the test's class are told, in order.
struct Log : tlpwin::Handler {
  std::vector<std::string> seen;
  std::string name;
  std::vector<std::string> *to = &seen;
  void Clicked(tlpwin::Window, int id) override { to->push_back(name + " clicked " + std::to_string(id)); }
  void Received(tlpwin::Window, uint32_t m) override {
    to->push_back(name + " received " + std::to_string(m - tlpwin::kFirstPrivateMessage));
  }
  void Destroyed(tlpwin::Window) override { to->push_back(name + " gone"); }
};

tlpwin::Window Make(Log *handler, tlpwin::Window parent = nullptr, uint32_t style = 0) {
  tlpwin::WindowSpec spec;
  spec.className = kClass;
  spec.module = kClass;
  spec.style = style;
  spec.rect = tlpwin::Rect{0, 0, 50, 50};
  spec.parent = parent;
  spec.handler = handler;
  return tlpwin::Create(spec);
}

using Seen = std::vector<std::string>;

TEST(TlpWin, ClicksGoToTheOwnerAndChildrenGoFirst) {
  ASSERT_TRUE(tlpwin::RegisterWindowClass(kClass, kClass));
  EXPECT_FALSE(tlpwin::RegisterWindowClass(kClass, kClass)) << "twice";
  Log top, child;
  top.name = "top";
  child.name = "child";
  child.to = &top.seen;
  tlpwin::Window t = Make(&top), c = Make(&child, t, tlpwin::kChild);
  ASSERT_TRUE(t && c);
  EXPECT_EQ(Make(nullptr, nullptr, tlpwin::kChild), nullptr) << "a child needs a parent";
  tlpwin::WindowSpec radio;
  radio.style = tlpwin::kChild | tlpwin::kRadioButton;
  radio.rect = tlpwin::Rect{0, 0, 20, 10}; // a click lands in its corner
  radio.parent = c;
  radio.id = 7;
  tlpwin::Window button = tlpwin::Create(radio);
  tlpwin::Click(button);
  EXPECT_FALSE(tlpwin::IsChecked(button)) << "a plain radio button only reports the click";
  EXPECT_FALSE(tlpwin::UnregisterWindowClass(kClass, kClass)) << "windows of the class exist";
  ASSERT_TRUE(tlpwin::Destroy(t));
  EXPECT_EQ(top.seen, (Seen{"child clicked 7", "child gone", "top gone"}));
  EXPECT_FALSE(tlpwin::Exists(button));
  EXPECT_FALSE(tlpwin::Destroy(t)) << "a stale handle is no window";
  EXPECT_TRUE(tlpwin::UnregisterWindowClass(kClass, kClass));
}

TEST(TlpWin, PostedMessagesWaitForTheLoopOfTheWindowsThread) {
  tlpwin::RegisterWindowClass(kClass, kClass);
  Log log;
  tlpwin::Window w = Make(&log);
  std::thread other([&] {
    EXPECT_TRUE(tlpwin::Post(w, tlpwin::kFirstPrivateMessage + 1));
    tlpwin::PumpMessages();
    EXPECT_FALSE(tlpwin::Destroy(w)) << "only the window's own thread destroys it";
  });
  other.join();
  tlpwin::Post(w, tlpwin::kFirstPrivateMessage + 2);
  EXPECT_TRUE(log.seen.empty()) << "nothing runs until this thread's loop does";
  tlpwin::PumpMessages();
  EXPECT_EQ(log.seen, (Seen{" received 1", " received 2"}));
  // A cut-loose window is told nothing more, and a message for a window that
  // is gone is dropped.
  tlpwin::Post(w, tlpwin::kFirstPrivateMessage + 3);
  tlpwin::Detach(w);
  EXPECT_TRUE(tlpwin::Destroy(w));
  tlpwin::PumpMessages();
  EXPECT_EQ(log.seen.size(), 2u);
  EXPECT_TRUE(tlpwin::UnregisterWindowClass(kClass, kClass));
}

// Natively the stand-in has no screen; under Wine without a display neither
// has its headless driver, whose desktop exists but is shown nowhere.
TEST(TlpWin, NoScreenWhereNoDisplayShowsTheDesktop) {
#if defined(_WIN32)
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") || std::getenv("DISPLAY"))
    GTEST_SKIP() << "a desktop that a display may show";
#endif
  EXPECT_FALSE(tlpwin::HasScreen());
}

} // namespace
