// The options panel apart from its windows: the layout at a screen resolution,
// the places of the radio buttons and the selection rule. Plain arithmetic,
// which the unit tests link on their own.
#pragma once

#include <cstdint>

// A rectangle in its parent's client area.
struct PanelRect {
  int32_t left = 0, top = 0, width = 0, height = 0;
  bool operator==(const PanelRect &o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};

// Designed at 96 pixels per inch with a 12-pixel text height; other
// resolutions scale it.
struct OptionPanelModel {
  static const int kItemCount = 6;
  static const int32_t kDesignPixelsPerInch = 96;
  static const int32_t kDesignTextHeight = 12;
  static const int32_t kDesignFontHeight = -12; // a 12-pixel character height
  static constexpr PanelRect kDesignGroup{8, 16, 241, 129};

  // Layout: the radio group's place in the panel. The panel has no size of
  // its own to scale: it fills its parent's client area.
  PanelRect group = kDesignGroup;
  // Cell height of the panel's font, which the buttons are placed by.
  int32_t textHeight = kDesignTextHeight;

  // Index of the selected item, -1 for none.
  int selected = -1;

  // a * n / d rounded to the nearest integer, halves away from zero; d is
  // one of the design's sizes, never 0.
  static int32_t MulDiv(int32_t a, int32_t n, int32_t d);
  // The font height for a screen resolution.
  static int32_t FontHeightAt(int32_t pixelsPerInch);
  // Takes the measured text height of the font: a height other than the
  // design's scales the group by textHeight / 12.
  void ScaleToTextHeight(int32_t measuredTextHeight);
  // Radio button k (0 to 5) inside the group box.
  PanelRect Button(int k) const;

  // What a change of selection does to the buttons: -1 where nothing.
  struct CheckChange {
    int uncheck = -1;
    int check = -1;
  };
  // Values below -1 select nothing, values above the last item the last.
  CheckChange Select(int index);
  // The user clicked item k: once an item is selected, none cannot return.
  CheckChange Click(int k) { return k >= 0 && k < kItemCount ? Select(k) : CheckChange(); }
};
