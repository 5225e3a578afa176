// The panel when the window system refuses a window or the panel's font, as
// the stand-in does on a test's word: nothing of a half-made panel stays, the
// leave that follows changes nothing, and the next panel opens as ever.
#if !defined(_WIN32)

#include "PanelHost.h"

namespace {

TEST_F(Panel, RefusedWindowOrFontLeavesNoPanel) {
  ChooseOnPanel(3);
  // The font, the panel, its group box and its six buttons, refused in turn.
  for (int made = 0; made < 9; ++made) {
    SCOPED_TRACE(made);
    tlpwin::RefuseAfter(made);
    Api().EXPORT_EnterOption(host, host, 0);
    tlpwin::RefuseAfter(-1);
    EXPECT_EQ(*Api().ExportOptionForm, nullptr);
    EXPECT_TRUE(Children(host).empty());
    Api().EXPORT_LeaveOption(1);
    PumpOnce();
    EXPECT_EQ(ReportedCode(), 8);
  }
  ChooseOnPanel(4);
  EXPECT_EQ(ReportedCode(), 9);
}

} // namespace

#endif
