// The export options dialog as an image application shows it: a window with
// a title, the plug-in's panel (EXPORT_EnterOption) in a place of its own,
// and OK and Cancel below it. OK or Enter accept the panel's choice
// (EXPORT_LeaveOption(1)); Cancel, Esc or closing the window decline it
// (EXPORT_LeaveOption(0)). Through tlpwin: on Windows a real window whose
// keys work as in any dialog, elsewhere the headless stand-in.
#pragma once

#include "Panel.h"

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
