// tga-host's options dialog around the plug-in's panel, driven as a person
// would: clicks, and keys under Windows.
#if defined(TLP_TEST_HOST_DIALOG)
#include "PanelHost.h"

#include "Dialog.h"

#include <optional>

namespace {

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

} // namespace
#endif
