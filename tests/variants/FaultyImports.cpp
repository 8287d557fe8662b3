// Windows functions that fail on request, for the test build Trimbolt64_faults. The program and
// its wrappers are the shipped code, unchanged: this file defines the import slots (__imp_<name>)
// through which the program calls these functions, so the linker takes them in place of the
// system's. Each one does what the fault named by the environment variable TRIMBOLT_TEST_FAULT
// asks, and otherwise calls the system's function.
//
//   open-finds-no-guard     OpenMutexW finds nothing, as if the other copy made its guard just
//                           after this copy looked: the start race of two copies
//   tick-fails              GlobalMemoryStatusEx, which only the trim pass calls, throws
//   quit-then-fails         PostQuitMessage posts the quit, then throws
//   no-application-window   CreateWindowExW makes no window of the application window's class
//
// With TRIMBOLT_TEST_CALLS naming a file, each message box the program asks for is noted there
// (its style, one line each): Wine does not show every style bit on the box it makes.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "forms/AppError.h"

namespace {

bool Fault(const wchar_t* name) {
  wchar_t value[64] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"TRIMBOLT_TEST_FAULT", value, 64);
  return length > 0 && length < 64 && std::wcscmp(value, name) == 0;
}

template <typename Function>
Function System(const wchar_t* module, const char* name) {
  return reinterpret_cast<Function>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(module), name)));
}

HANDLE WINAPI FaultyOpenMutex(DWORD access, BOOL inherit, LPCWSTR name) {
  if (Fault(L"open-finds-no-guard")) {
    ::SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  static const auto open = System<decltype(&::OpenMutexW)>(L"kernel32.dll", "OpenMutexW");
  return open(access, inherit, name);
}

BOOL WINAPI FaultyMemoryStatus(LPMEMORYSTATUSEX status) {
  if (Fault(L"tick-fails"))
    throw AppError(u"テスト用の失敗：メモリの量を読めません");
  static const auto read =
      System<decltype(&::GlobalMemoryStatusEx)>(L"kernel32.dll", "GlobalMemoryStatusEx");
  return read(status);
}

void WINAPI FaultyPostQuit(int exitCode) {
  static const auto post = System<decltype(&::PostQuitMessage)>(L"user32.dll", "PostQuitMessage");
  post(exitCode);
  if (Fault(L"quit-then-fails"))
    throw AppError(u"テスト用の失敗：終了の後");
}

HWND WINAPI FaultyCreateWindow(DWORD exStyle, LPCWSTR className, LPCWSTR name, DWORD style, int x,
                               int y, int width, int height, HWND parent, HMENU menu,
                               HINSTANCE instance, LPVOID parameter) {
  if (Fault(L"no-application-window") && !IS_INTRESOURCE(className) &&
      std::wcscmp(className, L"TApplication") == 0) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  static const auto create = System<decltype(&::CreateWindowExW)>(L"user32.dll", "CreateWindowExW");
  return create(exStyle, className, name, style, x, y, width, height, parent, menu, instance,
                parameter);
}

int WINAPI RecordingMessageBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(L"TRIMBOLT_TEST_CALLS", path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    if (FILE* calls = ::_wfopen(path, L"a")) {
      static_cast<void>(std::fprintf(calls, "MessageBoxW style=0x%X\n", style));
      static_cast<void>(std::fclose(calls));
    }
  }
  static const auto show = System<decltype(&::MessageBoxW)>(L"user32.dll", "MessageBoxW");
  return show(owner, text, caption, style);
}

}  // namespace

// The import slots, by the names the compiler gives calls to these dllimport functions: reserved
// identifiers, which is the point.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {
extern decltype(&::OpenMutexW) __imp_OpenMutexW;
extern decltype(&::GlobalMemoryStatusEx) __imp_GlobalMemoryStatusEx;
extern decltype(&::PostQuitMessage) __imp_PostQuitMessage;
extern decltype(&::CreateWindowExW) __imp_CreateWindowExW;
extern decltype(&::MessageBoxW) __imp_MessageBoxW;
decltype(&::OpenMutexW) __imp_OpenMutexW = FaultyOpenMutex;
decltype(&::GlobalMemoryStatusEx) __imp_GlobalMemoryStatusEx = FaultyMemoryStatus;
decltype(&::PostQuitMessage) __imp_PostQuitMessage = FaultyPostQuit;
decltype(&::CreateWindowExW) __imp_CreateWindowExW = FaultyCreateWindow;
decltype(&::MessageBoxW) __imp_MessageBoxW = RecordingMessageBox;
}
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
