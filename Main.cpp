#include "Main.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "forms/AppError.h"
#include "forms/FormDescription.h"
#include "platform/Resource.h"
#include "platform/Sound.h"
#include "trim/TrimPass.h"

TMainForm* MainForm = nullptr;

namespace {

constexpr char16_t kClipName[] = u"#100";
constexpr char16_t kDescriptionName[] = u"TMAINFORM";

// Plays the built-in clip and returns when it has finished. Without a sound device it returns
// at once, silently.
//
// While it waits for the clip, the sound system may hand this thread a message sent from
// another process (a session-end query during the close cue, say), whose handler asks for the
// cue again. That cue is already playing, so the nested request returns at once: starting the
// sound system again from inside itself would hang the program (it does under Wine).
void PlayCue() {
  static bool playing = false;
  if (playing)
    return;
  struct Playing {
    Playing() { playing = true; }
    Playing(const Playing&) = delete;
    Playing& operator=(const Playing&) = delete;
    ~Playing() { playing = false; }
  } const scope;
  platform::PlaySoundW(kClipName, platform::kSndResource);
}

FormDescription ReadDescription() {
  const std::string_view bytes = platform::LoadResourceBytes(platform::kRtRcData, kDescriptionName);
  if (bytes.data() == nullptr)
    throw AppError(u"ウィンドウの記述が見つかりません");
  return ParseFormDescription(bytes);
}

// The description names the handler of each event; the form has one for each, and the names
// must match it.
void RequireHandler(const std::u16string& named, std::u16string_view handler) {
  if (named != handler)
    throw AppError(u"ウィンドウの記述にあるハンドラ「" + named + u"」がありません");
}

}  // namespace

TApplication::TApplication() : window_(platform::CreateApplicationWindow(u"", this)) {}

void TApplication::SetTitle(const char16_t* title) {
  title_ = title;
  platform::SetWindowTextW(window_.Get(), title);
}

void TApplication::Run(TMainForm& mainForm) {
  if (ShowMainForm)
    platform::ShowWindow(mainForm.Handle(), platform::kSwShow);
  // Closes from outside reach the main window while the loop runs, and only then.
  class Running {
   public:
    Running(TMainForm*& slot, TMainForm& form) : slot_(slot) { slot_ = &form; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    ~Running() { slot_ = nullptr; }

   private:
    TMainForm*& slot_;
  } const running(mainForm_, mainForm);
  for (bool more = true; more;) {
    try {
      if (std::exchange(closeRequested_, false))
        mainForm.Close();
      more = platform::PumpMessage();
    } catch (...) {
      ShowError(CurrentErrorText());
    }
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  platform::PostQuitMessage(0);
}

// A close of the application window from outside (taskkill asks every top-level window of the
// process, and anyone may send it one) is a close of the main window, with its close query and
// cue; the system's own handling would destroy the windows without either.
void TApplication::OnClose() {
  if (mainForm_ != nullptr)
    mainForm_->Close();
  else
    closeRequested_ = true;
}

void TApplication::ShowError(const std::u16string& text) {
  platform::MessageBoxW(window_.Get(), text.c_str(), title_.c_str(),
                        platform::kMbOk | platform::kMbIconError);
}

TMainForm::TMainForm(TApplication& application) : application_(application) {
  const platform::FormAppearance appearance = ApplyDescription();
  FormCreate(this);
  window_ =
      platform::UniqueWindow(platform::CreateFormWindow(appearance, application_.Handle(), this));
  if (!window_)
    throw AppError(u"メインウィンドウを作成できません");
}

platform::FormAppearance TMainForm::ApplyDescription() {
  const FormDescription description = ReadDescription();
  if (description.appearance.className != u"TMainForm") {
    throw AppError(u"ウィンドウの記述のクラス「" + description.appearance.className +
                   u"」が違います");
  }
  RequireHandler(description.onCreate, u"FormCreate");
  RequireHandler(description.onCloseQuery, u"FormCloseQuery");

  // The form owns one component, its Timer; anything else in the description would be left
  // unmade, so it is refused by name rather than ignored.
  const auto isTimer = [](const ComponentDescription& component) {
    return component.name == u"Timer" && component.className == u"TTimer";
  };
  const auto timer = std::ranges::find_if(description.components, isTimer);
  if (timer == description.components.end())
    throw AppError(u"ウィンドウの記述にタイマー「Timer」がありません");
  for (const ComponentDescription& component : description.components) {
    if (&component != &*timer) {
      throw AppError(u"ウィンドウの記述に余分なコンポーネント「" + component.name +
                     u"」があります");
    }
  }
  RequireHandler(timer->onTimer, u"TimerTimer");

  Timer = std::make_unique<TTimer>();
  Timer->DesignLeft = timer->left;
  Timer->DesignTop = timer->top;
  if (timer->interval)
    Timer->SetInterval(*timer->interval);
  if (timer->enabled)
    Timer->SetEnabled(*timer->enabled);
  // Attaching the handler to the enabled timer arms it.
  Timer->SetOnTimer([this](TObject* Sender) { TimerTimer(Sender); });
  return description.appearance;
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
  // Once the application is ending, a further close (taskkill asks each of its windows) has
  // already been answered.
  if (application_.Terminated())
    return;
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
