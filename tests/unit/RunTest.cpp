// The whole run, start to end, against the platform double: which Windows operations are called,
// with what, in which order and when on the virtual clock.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Trimbolt64.h"
#include "tests/double/PlatformDouble.h"

namespace {

using platform::testing::Message;
using platform::testing::TheDouble;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr char kOpenGuard[] = "OpenMutexW(0x1f0001,false,Trimbolt64/Qel Project)";
constexpr char kCreateGuard[] = "CreateMutexW(Trimbolt64/Qel Project)";
constexpr char kCue[] = "PlaySoundW(#100,0x40004)";
constexpr char kWarningBox[] = "MessageBoxW(foreground,既に起動しています。,Trimbolt64,0x30)";
constexpr char kDescription[] = "LoadResourceBytes(10,TMAINFORM)";
constexpr char kMainWindow[] =
    "CreateFormWindow(TMainForm,Trimbolt,431,251,197x125@96,single,+system-menu,color=15,"
    "font=ＭＳ Ｐゴシック/128/-12/,icon=MAINICON,owner=app)";

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override { TheDouble().Reset(); }
  void TearDown() override { TheDouble().Reset(); }

  static std::vector<std::string> Calls() { return TheDouble().CallTexts(); }
  static std::size_t Count(const std::string& prefix) {
    return TheDouble().CallsStartingWith(prefix).size();
  }
  // `count` calls starting `before` calls ahead of the first call that starts with `prefix`.
  static std::vector<std::string> CallsAround(const std::string& prefix, std::size_t count,
                                              std::size_t before = 0) {
    const auto calls = Calls();
    const auto found = std::find_if(calls.begin(), calls.end(), [&](const std::string& call) {
      return call.rfind(prefix, 0) == 0;
    });
    EXPECT_NE(found, calls.end()) << prefix;
    const auto at = static_cast<std::size_t>(found - calls.begin());
    if (found == calls.end() || at < before)
      return {};
    const std::size_t first = at - before;
    return {calls.begin() + static_cast<long>(first),
            calls.begin() + static_cast<long>(std::min(first + count, calls.size()))};
  }
  static std::uint64_t TimeOf(const std::string& prefix, std::size_t nth = 0) {
    const auto calls = TheDouble().CallsStartingWith(prefix);
    EXPECT_GT(calls.size(), nth) << prefix;
    return calls.size() > nth ? calls[nth].atMs : ~0ull;
  }
};

// The start-up that every guarded run shares, up to the event loop.
std::vector<std::string> GuardedStartUp() {
  return {"CreateApplicationWindow()",
          kOpenGuard,
          kCreateGuard,
          "SetWindowTextW(app,Trimbolt2)",
          kDescription,
          "CreateTimerWindow()",
          "SetTimer(timer,1,1000)",
          kCue,
          kMainWindow,
          "ShowWindow(app,0)"};
}

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(RunTest, AFoundGuardTurnsTheCopyAwayWithAWarningAndNothingElse) {
  TheDouble().guardExists = true;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_THAT(Calls(), ElementsAre("CreateApplicationWindow()", kOpenGuard, "GetForegroundWindow()",
                                   kWarningBox, "CloseHandle(opened-guard)", "DestroyWindow(app)"));
}

TEST_F(RunTest, AGuardMadeByAnotherCopyBetweenOpenAndCreateAlsoTurnsTheCopyAway) {
  TheDouble().createFindsExisting = true;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_THAT(Calls(), ElementsAre("CreateApplicationWindow()", kOpenGuard, kCreateGuard,
                                   "GetForegroundWindow()", kWarningBox,
                                   "CloseHandle(created-guard)", "DestroyWindow(app)"));
}

TEST_F(RunTest, AGuardedRunTrimsOnceClosesAndExitsInOrder) {
  TheDouble().commandLine = u"\"C:\\Tools\\Trimbolt64.exe\" 1";
  TheDouble().totalPhys = 4ull << 30;  // 1% is 40 MiB
  const std::string size = std::to_string(40ull << 20);

  EXPECT_EQ(RunTrimbolt64(), 0);

  EXPECT_THAT(
      Calls(),
      ElementsAreArray(Concat(
          GuardedStartUp(),
          {"WM_TIMER(timer)", "KillTimer(timer,1)", "GetCommandLineW()", "GlobalMemoryStatusEx()",
           "VirtualAlloc(null," + size + ",0x1000,0x204)", "Sleep(1000)",
           "VirtualFree(block," + size + ",0x4000)", kCue, "PostQuitMessage(0)", "WM_QUIT",
           "DestroyWindow(form)", "DestroyWindow(timer)", "DestroyWindow(app)"})));
  // The whole block is written before the hold starts, not only by the time it is released.
  EXPECT_EQ(TheDouble().heldBlockWasZero, true);
  EXPECT_EQ(TheDouble().freedBlockWasZero, true);
  // The guard is held to the end of the process, not closed.
  EXPECT_EQ(Count("CloseHandle"), 0u);
}

TEST_F(RunTest, TheTimelineIsTickAtOneSecondThenHoldThenCloseCue) {
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(TimeOf("SetTimer"), 0u);
  EXPECT_EQ(TimeOf("ShowWindow(app,0)"), 781u);  // the loop starts after the start cue
  EXPECT_EQ(TimeOf("WM_TIMER"), 1000u);          // one second after arming
  EXPECT_EQ(TimeOf("VirtualFree"), 2000u);       // after the one-second hold
  EXPECT_EQ(TimeOf("WM_QUIT"), 2781u);           // after the close cue
  EXPECT_EQ(Count("WM_TIMER"), 1u);
  EXPECT_EQ(Count("VirtualAlloc"), 1u);
}

TEST_F(RunTest, AClipLongerThanTheIntervalMakesTheTickComeAsSoonAsTheLoopRuns) {
  TheDouble().clipMs = 1500;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(TimeOf("WM_TIMER"), 1500u);
  EXPECT_LT(TimeOf("ShowWindow(app,0)"), TimeOf("WM_TIMER") + 1);
  EXPECT_EQ(TimeOf("WM_QUIT"), 1500u + 1000u + 1500u);
  EXPECT_EQ(Count("WM_TIMER"), 1u);
}

TEST_F(RunTest, AFailedGuardCreateIsNotReportedAndTheCopyRuns) {
  TheDouble().createFails = true;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(Count("MessageBoxW"), 0u);
  EXPECT_EQ(Count("VirtualAlloc"), 1u);
  EXPECT_EQ(Count("WM_QUIT"), 1u);
}

TEST_F(RunTest, HalfOfSixteenGibibytesCommitsAndFillsEightGibibytes) {
  // The default percentage on a 16 GiB machine.
  TheDouble().totalPhys = 16ull << 30;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(Count("VirtualAlloc(null,8589934592,0x1000,0x204)"), 1u);
  EXPECT_EQ(Count("VirtualFree(block,8589934592,0x4000)"), 1u);
  EXPECT_EQ(TheDouble().heldBlockWasZero, true);
  EXPECT_EQ(TheDouble().freedBlockWasZero, true);
}

TEST_F(RunTest, NoTimerIsAStartUpFailureWithAnErrorBoxAndExitCodeOne) {
  TheDouble().timerFails = true;
  EXPECT_EQ(RunTrimbolt64(), 1);
  EXPECT_THAT(Calls(),
              ElementsAre("CreateApplicationWindow()", kOpenGuard, kCreateGuard,
                          "SetWindowTextW(app,Trimbolt2)", kDescription, "CreateTimerWindow()",
                          "SetTimer(timer,1,1000)", "DestroyWindow(timer)",
                          "MessageBoxW(app,タイマーを取得できません,Trimbolt2,0x10)",
                          "DestroyWindow(app)"));
}

TEST_F(RunTest, AMainWindowThatCannotBeCreatedIsAStartUpFailureWithExitCodeOne) {
  TheDouble().formWindowFails = true;
  EXPECT_EQ(RunTrimbolt64(), 1);
  // The start cue has played by then: the window's handle is made after the creation handler.
  EXPECT_THAT(CallsAround(kCue, 6),
              ElementsAre(kCue, kMainWindow, "KillTimer(timer,1)", "DestroyWindow(timer)",
                          "MessageBoxW(app,メインウィンドウを作成できません,Trimbolt2,0x10)",
                          "DestroyWindow(app)"));
  EXPECT_EQ(Count("WM_TIMER"), 0u);
  EXPECT_EQ(Count("VirtualAlloc"), 0u);
}

TEST_F(RunTest, AFailedCommitWritesNothingButStillHoldsClosesAndExitsZero) {
  TheDouble().commitFails = true;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_THAT(CallsAround("VirtualAlloc", 8),
              ElementsAre("VirtualAlloc(null,33554432,0x1000,0x204)", "Sleep(1000)", kCue,
                          "PostQuitMessage(0)", "WM_QUIT", "DestroyWindow(form)",
                          "DestroyWindow(timer)", "DestroyWindow(app)"));
  EXPECT_EQ(Count("VirtualFree"), 0u);
  EXPECT_EQ(TimeOf("WM_QUIT"), 2781u);
}

TEST_F(RunTest, AZeroMebibyteBlockCommitsNothingButStillHoldsForASecond) {
  TheDouble().totalPhys = 99ull << 20;  // 1% of 99 MiB is under one mebibyte
  TheDouble().commandLine = u"Trimbolt64.exe 1";
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(Count("VirtualAlloc"), 0u);
  EXPECT_EQ(Count("VirtualFree"), 0u);
  EXPECT_EQ(TimeOf("Sleep(1000)"), 1000u);
  EXPECT_EQ(TimeOf("WM_QUIT"), 2781u);
}

TEST_F(RunTest, AFailureInTheTickIsShownByTheLoopWhichGoesOnWithoutClosing) {
  TheDouble().throwOn = "GlobalMemoryStatusEx";
  RunTrimbolt64();
  // The timer was already off, so no second pass follows: the loop waits with nothing to come.
  EXPECT_THAT(
      CallsAround("WM_TIMER", 9),
      ElementsAre("WM_TIMER(timer)", "KillTimer(timer,1)", "GetCommandLineW()",
                  "GlobalMemoryStatusEx()", "MessageBoxW(app,テスト用の失敗,Trimbolt2,0x10)",
                  "idle", "DestroyWindow(form)", "DestroyWindow(timer)", "DestroyWindow(app)"));
  EXPECT_EQ(Count(kCue), 1u);
  EXPECT_EQ(Count("PostQuitMessage"), 0u);
}

TEST_F(RunTest, ASessionEndQueryWhileWaitingPlaysTheCloseCueAndAnswersYes) {
  TheDouble().pending = {Message::kQueryEndSession};
  RunTrimbolt64();
  EXPECT_THAT(CallsAround("WM_QUERYENDSESSION", 3),
              ElementsAre("WM_QUERYENDSESSION(form)", kCue, "answer=yes"));
  EXPECT_LT(TimeOf("WM_QUERYENDSESSION"), TimeOf("WM_TIMER"));
  EXPECT_EQ(TimeOf("answer=yes"), 781u + 781u);  // the answer comes after the whole cue
}

TEST_F(RunTest, ASessionEndQueryDuringTheCloseCueIsAnsweredYesWithoutASecondCue) {
  // The sound system lets a sent message in while the close cue plays; the cue it asks for is
  // the one already playing.
  TheDouble().sentDuringCue = {Message::kQueryEndSession};
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_THAT(
      CallsAround("WM_QUERYENDSESSION", 5, 1),
      ElementsAre(kCue, "WM_QUERYENDSESSION(form)", "answer=yes", "PostQuitMessage(0)", "WM_QUIT"));
  EXPECT_EQ(Count(kCue), 2u);
  EXPECT_LE(TimeOf("VirtualFree"),
            TimeOf("WM_QUERYENDSESSION"));  // the close cue, not the start cue
}

// Closes from outside: a WM_CLOSE to the main window or to the application window (taskkill
// without /f posts one to each), whenever it comes, is the main window's close: the close query
// with its cue, once, and the end of the loop.
struct OutsideClose {
  const char* name;
  std::vector<Message> whileWaiting;    // posted before the tick
  std::vector<Message> duringHold;      // posted while the trim pass holds the block
  std::vector<Message> duringStartCue;  // sent while the start cue plays, before the loop
  bool trims;
};

std::ostream& operator<<(std::ostream& out, const OutsideClose& c) {
  return out << c.name;
}

class OutsideCloseTest : public RunTest, public ::testing::WithParamInterface<OutsideClose> {};

TEST_P(OutsideCloseTest, GoesThroughTheMainWindowsCloseOnce) {
  TheDouble().pending = GetParam().whileWaiting;
  TheDouble().postedDuringSleep = GetParam().duringHold;
  TheDouble().sentDuringCue = GetParam().duringStartCue;
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(Count("VirtualAlloc"), GetParam().trims ? 1u : 0u);
  EXPECT_EQ(Count(kCue), 2u);  // the start cue and one close cue
  EXPECT_EQ(Count("PostQuitMessage"), 1u);
  EXPECT_EQ(Count("WM_QUIT"), 1u);
  // Without a trim the close cue follows the start cue at once; with one, the designed run.
  EXPECT_EQ(TimeOf("WM_QUIT"), GetParam().trims ? 2781u : 781u + 781u);
  EXPECT_EQ(Count("DestroyWindow"), 3u);  // the windows go only when the program ends
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutsideCloseTest,
    ::testing::Values(
        OutsideClose{"MainWindowWhileWaiting", {Message::kClose}, {}, {}, false},
        OutsideClose{"ApplicationWindowWhileWaiting", {Message::kCloseApplication}, {}, {}, false},
        OutsideClose{"BothWindowsWhileWaiting",
                     {Message::kCloseApplication, Message::kClose},
                     {},
                     {},
                     false},
        OutsideClose{"BothWindowsDuringTheHold",
                     {},
                     {Message::kCloseApplication, Message::kClose},
                     {},
                     true},
        OutsideClose{
            "ApplicationWindowDuringTheStartCue", {}, {}, {Message::kCloseApplication}, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(RunTest, ClosesPostedDuringTheHoldComeAfterTheTrimPassAndItsCloseAndChangeNothing) {
  TheDouble().postedDuringSleep = {Message::kCloseApplication, Message::kClose};
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_THAT(CallsAround("VirtualFree", 6),
              ElementsAre("VirtualFree(block,33554432,0x4000)", kCue, "PostQuitMessage(0)",
                          "WM_CLOSE(app)", "WM_CLOSE(form)", "WM_QUIT"));
}

TEST_F(RunTest, NoApplicationWindowIsAStartUpFailureBeforeTheGuard) {
  TheDouble().applicationWindowFails = true;
  EXPECT_EQ(RunTrimbolt64(), 1);
  EXPECT_THAT(
      Calls(),
      ElementsAre("CreateApplicationWindow()",
                  "MessageBoxW(null,アプリケーションウィンドウを作成できません,Trimbolt2,0x10)"));
}

TEST_F(RunTest, AMissingWindowDescriptionIsAStartUpFailureBeforeAnyTimerOrSound) {
  TheDouble().resources.clear();
  EXPECT_EQ(RunTrimbolt64(), 1);
  EXPECT_EQ(Count("MessageBoxW(app,ウィンドウの記述が見つかりません,Trimbolt2,0x10)"), 1u);
  EXPECT_EQ(Count("SetTimer"), 0u);
  EXPECT_EQ(Count("PlaySoundW"), 0u);
  EXPECT_EQ(Count("CreateFormWindow"), 0u);
}

TEST_F(RunTest, ABrokenWindowDescriptionIsAStartUpFailureNamingTheFault) {
  struct Case {
    std::string find, replace, box;
  };
  const Case cases[] = {
      {"left 431", "left abc",
       "MessageBoxW(app,ウィンドウの記述が壊れています（6 行目: 'left' is not a 32-bit number）"},
      {"on-create FormCreate", "on-create FormShow",
       "MessageBoxW(app,ウィンドウの記述にあるハンドラ「FormShow」がありません"},
      {"on-timer TimerTimer", "on-timer Tick",
       "MessageBoxW(app,ウィンドウの記述にあるハンドラ「Tick」がありません"},
      {"form MainForm TMainForm", "form MainForm TOtherForm",
       "MessageBoxW(app,ウィンドウの記述のクラス「TOtherForm」が違います"},
      {"component Timer TTimer", "component Clock TTimer",
       "MessageBoxW(app,ウィンドウの記述にタイマー「Timer」がありません"},
      {"on-close-query FormCloseQuery", "on-close-query FormClose",
       "MessageBoxW(app,ウィンドウの記述にあるハンドラ「FormClose」がありません"},
      {"  end\nend\n",
       "  end\n  component Clock TTimer\n    left 0\n    top 0\n"
       "    on-timer TimerTimer\n  end\nend\n",
       "MessageBoxW(app,ウィンドウの記述に余分なコンポーネント「Clock」があります"},
      {"  end\nend\n",
       "  end\n  component Timer TTimer\n    left 0\n    top 0\n"
       "    on-timer TimerTimer\n  end\nend\n",
       "MessageBoxW(app,ウィンドウの記述に余分なコンポーネント「Timer」があります"},
  };
  for (const Case& c : cases) {
    TheDouble().Reset();
    std::string& text = TheDouble().resources[u"TMAINFORM"];
    text.replace(text.find(c.find), c.find.size(), c.replace);
    EXPECT_EQ(RunTrimbolt64(), 1) << c.replace;
    EXPECT_EQ(Count(c.box), 1u) << c.replace;
    EXPECT_EQ(Count("PlaySoundW"), 0u) << c.replace;
  }
}

TEST_F(RunTest, TheTimerTakesItsIntervalFromTheDescriptionWhenItGivesOne) {
  std::string& text = TheDouble().resources[u"TMAINFORM"];
  text.replace(text.find("    on-timer"), 4, "    interval 1500\n    ");
  EXPECT_EQ(RunTrimbolt64(), 0);
  EXPECT_EQ(Count("SetTimer(timer,1,1500)"), 1u);
  EXPECT_EQ(TimeOf("WM_TIMER"), 1500u);
}

TEST_F(RunTest, TheTimerIsArmedOnlyWhenTheDescriptionLeavesItEnabled) {
  for (const bool enabled : {false, true}) {
    TheDouble().Reset();
    std::string& text = TheDouble().resources[u"TMAINFORM"];
    text.replace(text.find("    on-timer"), 4,
                 std::string("    enabled ") + (enabled ? "true" : "false") + "\n    ");
    EXPECT_EQ(RunTrimbolt64(), 0);
    // Disabled, nothing ever ticks: the loop waits with nothing to come, and no pass runs.
    EXPECT_EQ(Count("SetTimer(timer,1,1000)"), enabled ? 1u : 0u) << enabled;
    EXPECT_EQ(Count("WM_TIMER"), enabled ? 1u : 0u) << enabled;
    EXPECT_EQ(Count("VirtualAlloc"), enabled ? 1u : 0u) << enabled;
    EXPECT_EQ(Count("idle"), enabled ? 0u : 1u) << enabled;
  }
}

TEST_F(RunTest, NoWindowIsEverShown) {
  RunTrimbolt64();
  for (const std::string& call : Calls()) {
    EXPECT_TRUE(call.rfind("ShowWindow", 0) != 0 || call == "ShowWindow(app,0)") << call;
  }
}

}  // namespace
