// The options panel's model: the layout arithmetic at each resolution and the
// selection rule, as plain tables.
#include "PanelModel.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct ScaleCase {
  int32_t pixelsPerInch;
  int32_t fontHeight;
  int32_t textHeight; // what the font measures
  PanelRect group;
  int32_t buttonWidth, buttonHeight;
  int32_t tops[6];
};

const ScaleCase kScaleCases[] = {
    // The design: 96 dpi, 12-pixel text.
    {96, -12, 12, {8, 16, 241, 129}, 231, 18, {15, 33, 51, 69, 87, 105}},
    // A face whose -12 measures 13 (the Japanese font the Wine prefix maps).
    {96, -12, 13, {9, 17, 261, 140}, 251, 20, {15, 35, 55, 75, 95, 115}},
    {120, -15, 15, {10, 20, 301, 161}, 291, 23, {17, 40, 63, 86, 109, 132}},
    // Halves round away from zero: 361.5 -> 362, 193.5 -> 194.
    {144, -18, 18, {12, 24, 362, 194}, 352, 28, {20, 48, 76, 104, 132, 160}},
    {72, -9, 9, {6, 12, 181, 97}, 171, 13, {12, 25, 38, 51, 64, 77}},
};

TEST(PanelLayout, ScalesByResolutionAndTextHeight) {
  for (const ScaleCase &c : kScaleCases) {
    SCOPED_TRACE(testing::Message() << c.pixelsPerInch << " dpi, text " << c.textHeight);
    EXPECT_EQ(OptionPanelModel::FontHeightAt(c.pixelsPerInch), c.fontHeight);
    OptionPanelModel m;
    m.ScaleToTextHeight(c.textHeight);
    EXPECT_EQ(m.group, c.group);
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

} // namespace
