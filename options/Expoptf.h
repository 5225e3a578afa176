// Unit Expoptf: the export options panel, a borderless child window that
// holds the radio group of conversion methods.
//
// Three layers: OptionPanelModel decides everything that is not a window
// (layout at a resolution, places of the buttons, the selection rule);
// panel_window is the thin window piece, one implementation per platform
// (options/win32 with the system's windows, options/posix with tlpwin); and
// TExportOptionForm ties the two together for the Export entry points.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// A rectangle in its parent's client area.
struct PanelRect {
  int32_t left, top, width, height;
  bool operator==(const PanelRect &o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};

// The panel apart from its windows. Designed at 96 pixels per inch with a
// 12-pixel text height; other resolutions scale it.
struct OptionPanelModel {
  static const int kItemCount = 6;
  static const int32_t kDesignPixelsPerInch = 96;
  static const int32_t kDesignTextHeight = 12;
  static const int32_t kDesignFontHeight = -12; // a 12-pixel character height
  static const int32_t kDesignClientWidth = 283;
  static const int32_t kDesignClientHeight = 159;
  static constexpr PanelRect kDesignGroup{8, 16, 241, 129};

  // Layout: the radio group's place in the panel and the panel's client size.
  PanelRect group = kDesignGroup;
  int32_t clientWidth = kDesignClientWidth;
  int32_t clientHeight = kDesignClientHeight;
  // Cell height of the panel's font, which the buttons are placed by.
  int32_t textHeight = kDesignTextHeight;

  // Index of the selected item, -1 for none.
  int selected = -1;

  // a * n / d rounded to the nearest integer, halves away from zero.
  static int32_t MulDiv(int32_t a, int32_t n, int32_t d);
  // The font height for a screen resolution.
  static int32_t FontHeightAt(int32_t pixelsPerInch);
  // Takes the measured text height of the font: a height other than the
  // design's scales the group and the client size by textHeight / 12.
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

// The panel's texts, code page 932.
extern const char kPanelCaption[];      // "ExportOptionForm", never visible
extern const char kPanelFontFace[];     // "ＭＳ Ｐゴシック"
extern const char kConvMethodCaption[]; // "変換方式"
extern const char *const kConvMethodItems[OptionPanelModel::kItemCount];
const int32_t kShiftJisCharset = 128;

// The window pieces. Handles are HWND on Windows and TlpHwnd elsewhere.
namespace panel_window {

using Handle = void *;
using Font = void *;

// What the window pieces tell the panel.
class Events {
public:
  virtual void Clicked(int item) = 0; // the user clicked radio button `item`
  virtual void Destroyed() = 0;       // the panel's window is gone
protected:
  ~Events() = default;
};

struct Windows {
  Handle panel = nullptr;
  Handle group = nullptr;
  Handle buttons[OptionPanelModel::kItemCount] = {};
};

int32_t ScreenPixelsPerInch();
// The panel's font at `height`; null when it cannot be made.
Font CreatePanelFont(int32_t height);
int32_t TextHeight(Font font);
void DeleteFont(Font font);
// Creates the panel's window, a visible child of `parent` that fills its
// client area, with the group box and radio buttons of `model` in it.
// `events` is told of clicks and of the window's end. False when the window
// cannot be made; then no window of the panel is left.
bool Create(Windows &w, Events *events, Handle parent, const OptionPanelModel &model, Font font);
void SetCheck(Handle button, bool checked);
// Asks the panel's window to destroy itself when its thread's message loop
// next dispatches messages; returns at once.
void PostRelease(Handle panel);
// Destroys the panel's windows at once (the module is going).
void Destroy(Handle panel);
// While the panel's window class is registered it holds a reference to the
// module, so that no window of it ever outlives the module's code. This
// unregisters the class, and lets the module go, once no window of it is left.
void UnregisterPanelClass();

} // namespace panel_window

class TPluginApplication;

// The options panel: the radio group of conversion methods in a borderless
// child window of the host's.
class TExportOptionForm : private panel_window::Events {
public:
  // Builds the panel inside OptionParentWindow and shows it; throws when the
  // window cannot be made.
  explicit TExportOptionForm(TPluginApplication &owner);
  ~TExportOptionForm();
  TExportOptionForm(const TExportOptionForm &) = delete;
  TExportOptionForm &operator=(const TExportOptionForm &) = delete;

  void SelectItem(int index);
  int ItemIndex() const { return TGAConvMethodRG.selected; }
  // The window goes when the host's message loop next runs, not here.
  void Release();
  // Until the release has been processed.
  bool HasWindow() const { return windows_.panel != nullptr; }
  panel_window::Handle Handle() const { return windows_.panel; }

  // The radio group: its layout and selection. Its windows are in windows_.
  OptionPanelModel TGAConvMethodRG;

private:
  void Clicked(int item) override;
  void Destroyed() override;
  void Apply(OptionPanelModel::CheckChange change);

  panel_window::Windows windows_;
  panel_window::Font font_ = nullptr;
};

// The module's application object: the host's application window handed over
// by EXPORT_EnterOption, and the owner of every panel made.
class TPluginApplication {
public:
  TPluginApplication() = default;
  TPluginApplication(const TPluginApplication &) = delete;
  TPluginApplication &operator=(const TPluginApplication &) = delete;

  void *Handle = nullptr;

  // Makes a panel owned by this object; throws when it cannot be made. Once
  // the new panel stands, the panels whose windows are gone are dropped.
  TExportOptionForm *CreateForm();
  // Destroys every panel and their window class: the module is about to be
  // unloaded.
  void Free();

private:
  // Made with the first panel and never destroyed with the module's statics:
  // when the process ends the windows go with it.
  std::vector<std::unique_ptr<TExportOptionForm>> *forms_ = nullptr;
};

extern TPluginApplication Application;

// The window that the next panel is created in.
extern void *OptionParentWindow;

extern "C" {
// The panel created last; exported under this name as a data symbol.
extern TExportOptionForm *_ExportOptionForm;
}
inline TExportOptionForm *&ExportOptionForm = _ExportOptionForm;

// Destroys the panels left before the module is unloaded and unregisters
// their window class (PLUGOUTCALLBACK).
void FreeOptionPanels();
