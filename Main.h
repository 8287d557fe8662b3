#pragma once

#include <memory>
#include <string>

#include "forms/Object.h"
#include "forms/Timer.h"
#include "platform/UniqueWindow.h"
#include "platform/Window.h"

class TMainForm;

// The invisible application: its top-level window carries the title, and it runs the event loop
// until the main window closes.
class TApplication : public TObject, private platform::WindowEvents {
 public:
  TApplication();

  // Null when the application window could not be made.
  platform::Window Handle() const { return window_.Get(); }
  const std::u16string& Title() const { return title_; }
  void SetTitle(const char16_t* title);

  // Whether Run shows the main window before the loop starts.
  bool ShowMainForm = true;

  // Runs the event loop until the quit message. A failure that escapes a handler is shown in an
  // error box and the loop goes on.
  void Run(TMainForm& mainForm);
  // Ends the event loop once the current handler has returned.
  void Terminate();
  // Whether Terminate has been called: the application is ending.
  bool Terminated() const { return terminated_; }
  // The error box: the error's text, the application title as caption, the error icon.
  void ShowError(const std::u16string& text);

 private:
  void OnTimer(std::uintptr_t /*timerId*/) override {}
  void OnClose() override;
  bool OnQueryEndSession() override { return true; }

  platform::UniqueWindow window_;
  std::u16string title_;
  TMainForm* mainForm_ = nullptr;  // while the loop runs
  bool closeRequested_ = false;    // a close from outside came before the loop
  bool terminated_ = false;
};

// The main window. It is never shown: it carries the start cue (creation), the single timer tick
// (the trim pass) and the close query (the close cue).
class TMainForm : public TObject, private platform::WindowEvents {
 public:
  // Builds the window: applies its description (which creates the armed Timer), calls the
  // creation handler (the start cue) and creates the window hidden.
  explicit TMainForm(TApplication& application);

  std::unique_ptr<TTimer> Timer;

  void FormCreate(TObject* Sender);
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  void TimerTimer(TObject* Sender);

  // Asks the close query and, if it allows, ends the application.
  void Close();

  platform::Window Handle() const { return window_.Get(); }

 private:
  void OnTimer(std::uintptr_t /*timerId*/) override {}
  void OnClose() override { Close(); }
  bool OnQueryEndSession() override;

  // Makes the window's components, and checks that the handlers it names are the form's own.
  platform::FormAppearance ApplyDescription();

  TApplication& application_;
  platform::UniqueWindow window_;
};

extern TMainForm* MainForm;
