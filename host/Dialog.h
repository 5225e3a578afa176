// The export options dialog as an image application shows it: a window with
// a title, the plug-in's panel (EXPORT_EnterOption) in a place of its own,
// and OK and Cancel below it. OK or Enter accept the panel's choice
// (EXPORT_LeaveOption(1)); Cancel, Esc or closing the window decline it
// (EXPORT_LeaveOption(0)). Through tlpwin: on Windows a real window whose
// keys work as in any dialog, elsewhere the headless stand-in.
#pragma once

#include "Panel.h"

#include <functional>
#include <memory>

class OptionsDialog final : private tlpwin::Handler {
public:
  enum class Answer { kNone, kOk, kCancel };

  // Opens the dialog, on the screen when `visible`, with the keyboard focus
  // on its first tab stop: the panel's checked item. Error() says what went
  // wrong when it did not open.
  OptionsDialog(const PluginApi &api, bool visible);
  // Declines the panel if Finish was not called (the panel's own
  // destructor does), and destroys the window.
  ~OptionsDialog();
  OptionsDialog(const OptionsDialog &) = delete;
  OptionsDialog &operator=(const OptionsDialog &) = delete;

  const std::string &Error() const { return error_; }
  tlpwin::Window Window() const { return window_; }
  HostPanel &Panel() { return *panel_; }
  // The OK or Cancel button (tlpwin::kOkId, kCancelId).
  tlpwin::Window Button(int id) const { return id == tlpwin::kOkId ? ok_ : cancel_; }

  // The host's message loop, until OK or Cancel; at once when one of them
  // was already given.
  void Run() { tlpwin::RunDialog(window_, answered_); }
  // The first of OK and Cancel given, by a button, a key or the window's close.
  Answer Given() const { return answer_; }
  // EXPORT_LeaveOption: accepted on OK, declined otherwise; false when the
  // panel is still there after the turn of the message loop that follows.
  bool Finish() { return panel_->Leave(answer_ == Answer::kOk); }

private:
  void Clicked(tlpwin::Window, int id) override {
    if (!answered_ && (id == tlpwin::kOkId || id == tlpwin::kCancelId)) {
      answer_ = id == tlpwin::kOkId ? Answer::kOk : Answer::kCancel;
      answered_ = true;
    }
  }
  void Received(tlpwin::Window, uint32_t) override {}
  void Destroyed(tlpwin::Window self) override {
    if (self == window_)
      window_ = nullptr;
  }

  tlpwin::Font font_ = nullptr;
  tlpwin::Window window_ = nullptr, place_ = nullptr, ok_ = nullptr, cancel_ = nullptr;
  std::unique_ptr<HostPanel> panel_;
  Answer answer_ = Answer::kNone;
  bool answered_ = false;
  std::string error_;
};

// The dialog as a user leaves it: whether OK was given, and the panel's
// checked item when it opened and when it was left (-1: none), with their
// texts in UTF-8.
struct DialogAnswer {
  bool ok = false;
  int opened = -1, checked = -1;
  std::string openedItem, checkedItem;
};

// Answers the dialog by script, with no window on the screen, as a user
// would: a click on method `method`'s item and on OK, or on Cancel for -1;
// then the panel is left, and the plug-in reports the accepted method's code
// until it is unloaded (nothing is stored unless the host calls
// PLUGOUTCALLBACK). False with `error` set when the dialog did not open.
bool AnswerDialog(const PluginApi &api, int method, DialogAnswer *answer, std::string *error);

// Shows the dialog and waits for the user's OK or Cancel (`waiting` runs
// once it is on the screen), then leaves the panel. False with `error` set
// when it did not open.
bool ShowDialog(const PluginApi &api, const std::function<void(tlpwin::Rect)> &waiting, DialogAnswer *answer,
                std::string *error);
