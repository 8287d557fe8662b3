#include "Main.h"

#include "AppError.h"
#include "platform/Sound.h"
#include "trim/TrimPass.h"

TMainForm* MainForm = nullptr;

namespace {

constexpr char16_t kClipName[] = u"#100";

// Plays the built-in clip and returns when it has finished. Without a sound device it returns
// at once, silently.
void PlayCue() {
  platform::PlaySoundW(kClipName, platform::kSndResource);
}

platform::FormWindowSpec MainFormDescription() {
  platform::FormWindowSpec spec;
  spec.className = u"TMainForm";
  spec.caption = u"Trimbolt";
  spec.left = 431;
  spec.top = 251;
  spec.clientWidth = 197;
  spec.clientHeight = 125;
  return spec;
}

}  // namespace

TApplication::TApplication() : window_(platform::CreateApplicationWindow(u"")) {}

void TApplication::SetTitle(const char16_t* title) {
  title_ = title;
  platform::SetWindowTextW(window_.Get(), title);
}

void TApplication::Run(TMainForm& mainForm) {
  if (ShowMainForm)
    platform::ShowWindow(mainForm.Handle(), platform::kSwShow);
  for (;;) {
    try {
      if (!platform::PumpMessage())
        return;
    } catch (...) {
      ShowError(CurrentErrorText());
    }
  }
}

void TApplication::Terminate() {
  platform::PostQuitMessage(0);
}

void TApplication::ShowError(const std::u16string& text) {
  platform::MessageBoxW(window_.Get(), text.c_str(), title_.c_str(),
                        platform::kMbOk | platform::kMbIconError);
}

TMainForm::TMainForm(TApplication& application) : application_(application) {
  const platform::FormWindowSpec description = MainFormDescription();
  Timer = std::make_unique<TTimer>();
  Timer->SetOnTimer([this](TObject* Sender) { TimerTimer(Sender); });
  FormCreate(this);
  window_ =
      platform::UniqueWindow(platform::CreateFormWindow(description, application_.Handle(), this));
  if (!window_)
    throw AppError(u"メインウィンドウを作成できません");
}

void TMainForm::FormCreate(TObject* /*Sender*/) {
  PlayCue();
}

void TMainForm::FormCloseQuery(TObject* /*Sender*/, bool& /*CanClose*/) {
  PlayCue();
}

void TMainForm::TimerTimer(TObject* /*Sender*/) {
  // Off first: one run makes exactly one trim pass, however long the pass takes.
  Timer->SetEnabled(false);
  trim::RunTrimPass();
  Close();
}

void TMainForm::Close() {
  bool CanClose = true;
  FormCloseQuery(this, CanClose);
  if (CanClose)
    application_.Terminate();
}

bool TMainForm::OnQueryEndSession() {
  bool CanClose = true;
  FormCloseQuery(this, CanClose);
  return CanClose;
}
