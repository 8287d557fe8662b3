#include "Trimbolt64.h"

#include <utility>

#include "Main.h"
#include "forms/AppError.h"
#include "platform/Mutex.h"
#include "platform/UniqueHandle.h"
#include "platform/Window.h"

namespace {

// No Global\ or Local\ prefix: one running copy per log-on session.
constexpr char16_t kGuardName[] = u"Trimbolt64/Qel Project";
constexpr char16_t kApplicationTitle[] = u"Trimbolt2";

// The guard of the copy that runs. It is held for the rest of the process and never closed: the
// system closes it when the process ends, and with it the name goes.
platform::Handle GuardHandle = nullptr;

// Tells the user that a copy is already running, then lets go of the found guard.
int TurnAway([[maybe_unused]] platform::UniqueHandle foundGuard) {
  platform::MessageBoxW(platform::GetForegroundWindow(), u"既に起動しています。", u"Trimbolt64",
                        platform::kMbOk | platform::kMbIconWarning);
  return 0;
}

}  // namespace

int RunTrimbolt64() {
  TApplication application;
  // Without its window the program has no title, no owner for its boxes and no way to keep off
  // the taskbar: a start-up failure, before the guard is tested or made.
  if (application.Handle() == nullptr) {
    platform::MessageBoxW(nullptr, u"アプリケーションウィンドウを作成できません", kApplicationTitle,
                          platform::kMbOk | platform::kMbIconError);
    return 1;
  }

  // A copy runs if and only if the guard can be opened with full access.
  platform::UniqueHandle found(platform::OpenMutexW(platform::kMutexAllAccess, false, kGuardName));
  if (found)
    return TurnAway(std::move(found));

  // Another copy may have made the guard since the open failed; then that copy is the one that
  // runs. A failed create is not reported: this copy runs unguarded.
  const platform::CreatedMutex created = platform::CreateMutexW(kGuardName);
  if (created.handle != nullptr && created.alreadyExisted) {
    return TurnAway(platform::UniqueHandle(created.handle));
  }
  GuardHandle = created.handle;

  try {
    application.SetTitle(kApplicationTitle);
    application.ShowMainForm = false;
    TMainForm mainForm(application);
    MainForm = &mainForm;
    platform::ShowWindow(application.Handle(), platform::kSwHide);  // no taskbar button
    application.Run(mainForm);
    MainForm = nullptr;
  } catch (...) {
    MainForm = nullptr;
    application.ShowError(CurrentErrorText());
    return 1;
  }
  return 0;
}
