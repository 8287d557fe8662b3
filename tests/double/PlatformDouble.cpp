#include "tests/double/PlatformDouble.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

#include "forms/AppError.h"
#include "platform/CommandLine.h"
#include "platform/Memory.h"
#include "platform/Mutex.h"
#include "platform/Resource.h"
#include "platform/Sound.h"
#include "platform/Window.h"

namespace platform::testing {
namespace {

std::string Utf8(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string Utf8(const char16_t* text) {
  return text != nullptr ? Utf8(std::u16string(text)) : "null";
}

std::string Hex(std::uint64_t value) {
  char digits[16];
  const std::to_chars_result end = std::to_chars(std::begin(digits), std::end(digits), value, 16);
  return "0x" + std::string(digits, end.ptr);
}

// Fake handles: small numbers that name what they stand for in the call log.
struct FakeWindow {
  std::string name;
  WindowEvents* events;
};

constexpr std::uintptr_t kForegroundWindow = 0xF0;
constexpr std::uintptr_t kOpenedGuard = 0x101;
constexpr std::uintptr_t kCreatedGuard = 0x102;

// A block bigger than this is backed by one small buffer mapped over and over, so that a test
// can commit and fill gigabytes without the memory: the fill runs for real across the whole
// range, and the buffer shows whether it was written.
constexpr std::uint64_t kAliasAbove = 64ull << 20;
constexpr std::uint64_t kAliasChunk = 2ull << 20;
constexpr unsigned char kUntouched = 0xA5;

struct State {
  Double config;
  std::map<std::uintptr_t, FakeWindow> windows;
  std::uintptr_t nextWindow = 1;
  std::map<std::uintptr_t, std::uint64_t> timerDue;  // timer window -> next tick time
  std::map<std::uintptr_t, std::uint64_t> timerInterval;
  bool quitPosted = false;
  void* block = nullptr;
  std::uint64_t blockSize = 0;
  bool blockCommitted = false;  // between VirtualAlloc and VirtualFree
  int aliasFd = -1;
};

State& S() {
  static State state;
  return state;
}

std::string WindowName(Window window) {
  const auto id = reinterpret_cast<std::uintptr_t>(window);
  if (window == nullptr)
    return "null";
  if (id == kForegroundWindow)
    return "foreground";
  const auto found = S().windows.find(id);
  return found != S().windows.end() ? found->second.name : "unknown";
}

void Record(const std::string& name, const std::string& arguments = "") {
  Double& d = S().config;
  d.calls.push_back({name + "(" + arguments + ")", d.nowMs});
  if (!d.throwOn.empty() && d.throwOn == name)
    throw AppError(u"テスト用の失敗");
}

Window NewWindow(const std::string& name, WindowEvents* events) {
  const std::uintptr_t id = 0x1000 + S().nextWindow++;
  S().windows[id] = {name, events};
  return reinterpret_cast<Window>(id);
}

void UnmapBlock() {
  State& s = S();
  if (s.block != nullptr) {
    munmap(s.block, s.blockSize);
    s.block = nullptr;
  }
  if (s.aliasFd >= 0) {
    close(s.aliasFd);
    s.aliasFd = -1;
  }
}

void* MapBlock(std::uint64_t size) {
  State& s = S();
  UnmapBlock();
  if (size <= kAliasAbove) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
      throw std::runtime_error("double: mmap failed");
    std::memset(p, kUntouched, size);
    s.block = p;
    s.blockSize = size;
    return p;
  }
  s.aliasFd = memfd_create("trimbolt-double", 0);
  if (s.aliasFd < 0 || ftruncate(s.aliasFd, static_cast<off_t>(kAliasChunk)) != 0) {
    throw std::runtime_error("double: memfd failed");
  }
  const std::uint64_t mapped = (size + kAliasChunk - 1) / kAliasChunk * kAliasChunk;
  void* base = mmap(nullptr, mapped, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED)
    throw std::runtime_error("double: reserve failed");
  for (std::uint64_t offset = 0; offset < mapped; offset += kAliasChunk) {
    void* at = static_cast<char*>(base) + offset;
    if (mmap(at, kAliasChunk, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, s.aliasFd, 0) ==
        MAP_FAILED) {
      throw std::runtime_error("double: alias failed");
    }
  }
  std::memset(base, kUntouched, kAliasChunk);
  s.block = base;
  s.blockSize = mapped;
  return base;
}

bool HasWindow(const std::string& name) {
  return std::ranges::any_of(S().windows,
                             [&name](const auto& entry) { return entry.second.name == name; });
}

// The window a message goes to: the application window for its close, otherwise the main window.
std::string TargetOf(Message message) {
  return message == Message::kCloseApplication ? "app" : "form";
}

// Hands a message to its window's handlers, recording it and, for a query, the answer.
void Deliver(Message message) {
  Double& d = S().config;
  const std::string target = TargetOf(message);
  for (auto& entry : S().windows) {
    FakeWindow& window = entry.second;
    if (window.name != target)
      continue;
    if (message == Message::kClose || message == Message::kCloseApplication) {
      d.calls.push_back({"WM_CLOSE(" + target + ")", d.nowMs});
      window.events->OnClose();
    } else {
      d.calls.push_back({"WM_QUERYENDSESSION(form)", d.nowMs});
      const bool answer = window.events->OnQueryEndSession();
      d.calls.push_back({std::string("answer=") + (answer ? "yes" : "no"), d.nowMs});
    }
  }
}

bool BlockIsZero() {
  const State& s = S();
  const auto* bytes = static_cast<const unsigned char*>(s.block);
  const std::uint64_t span = s.aliasFd >= 0 ? kAliasChunk : s.blockSize;
  for (std::uint64_t i = 0; i < span; ++i) {
    if (bytes[i] != 0)
      return false;
  }
  return true;
}

}  // namespace

void Double::Reset() {
  UnmapBlock();
  S() = State{};
  S().config.resources[u"TMAINFORM"] = SourceFile("resources/MainForm.window");
}

std::string SourceFile(const std::string& relativePath) {
  std::ifstream file(std::string(TRIMBOLT_SOURCE_DIR) + "/" + relativePath, std::ios::binary);
  if (!file)
    throw std::runtime_error("double: cannot read " + relativePath);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<std::string> Double::CallTexts() const {
  std::vector<std::string> texts;
  for (const Call& call : calls)
    texts.push_back(call.text);
  return texts;
}

std::vector<Call> Double::CallsStartingWith(const std::string& prefix) const {
  std::vector<Call> found;
  for (const Call& call : calls) {
    if (call.text.rfind(prefix, 0) == 0)
      found.push_back(call);
  }
  return found;
}

Double& TheDouble() {
  return S().config;
}

bool DeliverTick(const std::string& windowName, std::uintptr_t timerId) {
  for (auto& [id, window] : S().windows) {
    if (window.name == windowName && window.events != nullptr) {
      S().config.calls.push_back({"WM_TIMER(" + window.name + ")", S().config.nowMs});
      window.events->OnTimer(timerId);
      return true;
    }
  }
  return false;
}

}  // namespace platform::testing

namespace platform {

using testing::S;

Handle OpenMutexW(std::uint32_t desiredAccess, bool inheritHandle, const char16_t* name) {
  testing::Record("OpenMutexW", testing::Hex(desiredAccess) + "," +
                                    (inheritHandle ? "true" : "false") + "," + testing::Utf8(name));
  return S().config.guardExists ? reinterpret_cast<Handle>(testing::kOpenedGuard) : nullptr;
}

CreatedMutex CreateMutexW(const char16_t* name) {
  testing::Record("CreateMutexW", testing::Utf8(name));
  CreatedMutex created;
  if (!S().config.createFails) {
    created.handle = reinterpret_cast<Handle>(testing::kCreatedGuard);
    created.alreadyExisted = S().config.createFindsExisting;
  }
  return created;
}

void CloseHandle(Handle handle) {
  const auto id = reinterpret_cast<std::uintptr_t>(handle);
  testing::Record("CloseHandle", id == testing::kOpenedGuard    ? "opened-guard"
                                 : id == testing::kCreatedGuard ? "created-guard"
                                                                : testing::Hex(id));
}

MemoryStatus GlobalMemoryStatusEx() {
  testing::Record("GlobalMemoryStatusEx");
  MemoryStatus status;
  status.totalPhys = S().config.totalPhys;
  return status;
}

// The wrappers take what the Windows calls take, non-const addresses included.
// cppcheck-suppress constParameter
void* VirtualAlloc(void* address, std::uint64_t size, std::uint32_t allocationType,
                   std::uint32_t protect) {
  testing::Record("VirtualAlloc", std::string(address != nullptr ? "address" : "null") + "," +
                                      std::to_string(size) + "," + testing::Hex(allocationType) +
                                      "," + testing::Hex(protect));
  if (S().config.commitFails)
    return nullptr;
  void* block = testing::MapBlock(size);
  S().blockCommitted = true;
  return block;
}

// cppcheck-suppress constParameter
void VirtualFree(void* address, std::uint64_t size, std::uint32_t freeType) {
  const bool isBlock = address != nullptr && address == S().block;
  testing::Record("VirtualFree", std::string(isBlock ? "block" : "unknown") + "," +
                                     std::to_string(size) + "," + testing::Hex(freeType));
  if (isBlock) {
    S().config.freedBlockWasZero = testing::BlockIsZero();
    S().blockCommitted = false;
  }
}

void Sleep(std::uint32_t milliseconds) {
  testing::Record("Sleep", std::to_string(milliseconds));
  testing::Double& d = S().config;
  if (S().blockCommitted)
    d.heldBlockWasZero = testing::BlockIsZero();
  d.nowMs += milliseconds;
  d.pending.insert(d.pending.end(), d.postedDuringSleep.begin(), d.postedDuringSleep.end());
  d.postedDuringSleep.clear();
}

void PlaySoundW(const char16_t* name, std::uint32_t flags) {
  testing::Record("PlaySoundW", testing::Utf8(name) + "," + testing::Hex(flags));
  testing::Double& d = S().config;
  if (!d.sentDuringCue.empty() && testing::HasWindow(testing::TargetOf(d.sentDuringCue.front()))) {
    const testing::Message message = d.sentDuringCue.front();
    d.sentDuringCue.erase(d.sentDuringCue.begin());
    testing::Deliver(message);
  }
  d.nowMs += d.clipMs;
}

std::u16string_view GetCommandLineW() {
  testing::Record("GetCommandLineW");
  return S().config.commandLine;
}

Window CreateApplicationWindow(const char16_t* title, WindowEvents* events) {
  testing::Record("CreateApplicationWindow", testing::Utf8(title));
  if (S().config.applicationWindowFails)
    return nullptr;
  return testing::NewWindow("app", events);
}

Window CreateFormWindow(const FormAppearance& appearance, Window owner, WindowEvents* events) {
  const char* borders[] = {"none", "single", "sizeable"};
  std::string icons;
  if (appearance.systemMenu)
    icons += "+system-menu";
  if (appearance.minimizeBox)
    icons += "+minimize";
  if (appearance.maximizeBox)
    icons += "+maximize";
  if (appearance.helpButton)
    icons += "+help";
  std::string style;
  if (appearance.font.bold)
    style += "+bold";
  if (appearance.font.italic)
    style += "+italic";
  if (appearance.font.underline)
    style += "+underline";
  if (appearance.font.strikeOut)
    style += "+strikeout";
  testing::Record(
      "CreateFormWindow",
      testing::Utf8(appearance.className) + "," + testing::Utf8(appearance.caption) + "," +
          std::to_string(appearance.left) + "," + std::to_string(appearance.top) + "," +
          std::to_string(appearance.clientWidth) + "x" + std::to_string(appearance.clientHeight) +
          "@" + std::to_string(appearance.pixelsPerInch) + "," +
          borders[static_cast<int>(appearance.border)] + "," + icons +
          ",color=" + std::to_string(appearance.backgroundColor) + ",font=" +
          testing::Utf8(appearance.font.name) + "/" + std::to_string(appearance.font.charset) +
          "/" + std::to_string(appearance.font.height) + "/" + style +
          ",icon=" + testing::Utf8(appearance.iconName) + ",owner=" + testing::WindowName(owner));
  if (S().config.formWindowFails)
    return nullptr;
  return testing::NewWindow("form", events);
}

std::string_view LoadResourceBytes(std::uint16_t typeId, const char16_t* name) {
  testing::Record("LoadResourceBytes", std::to_string(typeId) + "," + testing::Utf8(name));
  const auto& resources = S().config.resources;
  const auto found = typeId == kRtRcData ? resources.find(name) : resources.end();
  if (found == resources.end())
    return {};
  return found->second;
}

Window CreateTimerWindow(WindowEvents* events) {
  testing::Record("CreateTimerWindow");
  return testing::NewWindow("timer", events);
}

void DestroyWindow(Window window) {
  testing::Record("DestroyWindow", testing::WindowName(window));
  const auto id = reinterpret_cast<std::uintptr_t>(window);
  S().windows.erase(id);
  S().timerDue.erase(id);
}

void SetWindowTextW(Window window, const char16_t* text) {
  testing::Record("SetWindowTextW", testing::WindowName(window) + "," + testing::Utf8(text));
}

void ShowWindow(Window window, int command) {
  testing::Record("ShowWindow", testing::WindowName(window) + "," + std::to_string(command));
}

Window GetForegroundWindow() {
  testing::Record("GetForegroundWindow");
  return reinterpret_cast<Window>(testing::kForegroundWindow);
}

int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption, std::uint32_t style) {
  testing::Record("MessageBoxW", testing::WindowName(owner) + "," + testing::Utf8(text) + "," +
                                     testing::Utf8(caption) + "," + testing::Hex(style));
  return 1;  // IDOK
}

bool SetTimer(Window window, std::uintptr_t timerId, std::uint32_t milliseconds) {
  testing::Record("SetTimer", testing::WindowName(window) + "," + std::to_string(timerId) + "," +
                                  std::to_string(milliseconds));
  if (S().config.timerFails)
    return false;
  const auto id = reinterpret_cast<std::uintptr_t>(window);
  S().timerDue[id] = S().config.nowMs + milliseconds;
  S().timerInterval[id] = milliseconds;
  return true;
}

void KillTimer(Window window, std::uintptr_t timerId) {
  testing::Record("KillTimer", testing::WindowName(window) + "," + std::to_string(timerId));
  S().timerDue.erase(reinterpret_cast<std::uintptr_t>(window));
}

bool PumpMessage() {
  testing::State& s = S();
  testing::Double& d = s.config;
  // As in Windows, messages already posted come before the quit, and the quit before ticks.
  if (!d.pending.empty()) {
    const testing::Message message = d.pending.front();
    d.pending.erase(d.pending.begin());
    testing::Deliver(message);
    return true;
  }
  if (s.quitPosted) {
    s.quitPosted = false;
    d.calls.push_back({"WM_QUIT", d.nowMs});
    return false;
  }
  if (!s.timerDue.empty()) {
    // Like WM_TIMER, the earliest due tick comes once nothing else is waiting; the timer goes
    // on repeating until it is killed.
    auto next = s.timerDue.begin();
    for (auto it = s.timerDue.begin(); it != s.timerDue.end(); ++it) {
      if (it->second < next->second)
        next = it;
    }
    const std::uintptr_t id = next->first;
    if (d.nowMs < next->second)
      d.nowMs = next->second;
    next->second = d.nowMs + s.timerInterval[id];
    d.calls.push_back({"WM_TIMER(" + s.windows[id].name + ")", d.nowMs});
    s.windows[id].events->OnTimer(1);
    return true;
  }
  // Nothing could ever arrive: a real loop would wait forever. End it so the test can look.
  d.calls.push_back({"idle", d.nowMs});
  return false;
}

void PostQuitMessage(int exitCode) {
  testing::Record("PostQuitMessage", std::to_string(exitCode));
  S().quitPosted = true;
}

}  // namespace platform
