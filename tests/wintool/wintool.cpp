// A Windows-side helper for the end-to-end tests, run under Wine next to Trimbolt64.exe. It finds
// the program's windows and message boxes, reads them, and dismisses boxes. Output is one
// "key=value" line per fact, UTF-8, so that the tests can parse it.
//
//   wintool watch <ms> <exe>          every window of <exe> seen within <ms>, and whether it was
//                                     ever visible; ends early once <exe> has come and gone
//   wintool find <class> <ms>         waits for a window of <class> (message-only ones too) and
//                                     describes it
//   wintool box <caption> <ms> [dismiss]  waits for a visible message box with <caption>,
//                                     describes it and, with "dismiss", presses its OK button
//   wintool query-end-session <class> <ms>  sends WM_QUERYENDSESSION, prints the answer
//   wintool spawn <exe> <file> <ms>   starts <exe> with the exact command line in <file> (UTF-8),
//                                     waits up to <ms> and prints its exit code
//   wintool shell <exe> <params> <ms> starts <exe> as Explorer and shortcuts do (ShellExecuteEx),
//                                     waits up to <ms> and prints its exit code
//   wintool close <class> <ms>        posts WM_CLOSE to the first window of <class>, as taskkill
//                                     without /f does
//   wintool regions <pid> <bytes> <ms>  waits up to <ms> for committed memory of at least <bytes>
//                                     in process <pid> and describes each such region, as the
//                                     system records it (VirtualQueryEx); also the total memory
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty())
    return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

void Print(const std::string& key, const std::string& value) {
  std::string line = key + "=" + value + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}
void Print(const std::string& key, long long value) {
  Print(key, std::to_string(value));
}
void PrintHex(const std::string& key, unsigned long long value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%llx", value);
  Print(key, buffer);
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  // The caption of another process's window can be read without asking that process, which
  // may be busy; a control's text needs WM_GETTEXT.
  if (GetWindowTextW(window, text, 1024) == 0) {
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        1000, nullptr);
  }
  return text;
}

std::wstring ExeOf(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr)
    return {};
  wchar_t path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  QueryFullProcessImageNameW(process, 0, path, &size);
  CloseHandle(process);
  std::wstring full(path);
  const std::size_t slash = full.find_last_of(L"\\/");
  return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

DWORD PidOf(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

// All top-level windows and all message-only windows.
std::vector<HWND> AllWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM list) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  for (HWND window = nullptr;
       (window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) != nullptr;) {
    windows.push_back(window);
  }
  return windows;
}

void Describe(HWND window) {
  PrintHex("hwnd", reinterpret_cast<unsigned long long>(window));
  Print("class", Utf8(ClassOf(window)));
  Print("title", Utf8(TextOf(window)));
  Print("pid", PidOf(window));
  Print("exe", Utf8(ExeOf(PidOf(window))));
  Print("visible", IsWindowVisible(window) ? 1 : 0);
  PrintHex("style", static_cast<unsigned long long>(GetWindowLongPtrW(window, GWL_STYLE)));
  PrintHex("exstyle", static_cast<unsigned long long>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  RECT frame{};
  GetWindowRect(window, &frame);
  Print("left", frame.left);
  Print("top", frame.top);
  Print("width", frame.right - frame.left);
  Print("height", frame.bottom - frame.top);
  RECT client{};
  GetClientRect(window, &client);
  Print("client_width", client.right);
  Print("client_height", client.bottom);
  HWND owner = GetWindow(window, GW_OWNER);
  Print("owner_class", owner ? Utf8(ClassOf(owner)) : std::string());
  Print("owner_title", owner ? Utf8(TextOf(owner)) : std::string());
  HWND parent = GetAncestor(window, GA_PARENT);
  Print("message_only",
        parent == FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr) ||
                (parent != nullptr && parent != GetDesktopWindow() && ClassOf(parent) == L"Message")
            ? 1
            : 0);
  Print("dpi", static_cast<long long>(GetDpiForWindow(window)));
  const DPI_AWARENESS_CONTEXT context = GetWindowDpiAwarenessContext(window);
  const char* awareness = "unknown";
  if (AreDpiAwarenessContextsEqual(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) {
    awareness = "per-monitor-v2";
  } else if (AreDpiAwarenessContextsEqual(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) {
    awareness = "per-monitor";
  } else if (AreDpiAwarenessContextsEqual(context, DPI_AWARENESS_CONTEXT_SYSTEM_AWARE)) {
    awareness = "system";
  } else if (AreDpiAwarenessContextsEqual(context, DPI_AWARENESS_CONTEXT_UNAWARE)) {
    awareness = "unaware";
  }
  Print("dpi_awareness", awareness);
}

bool EndsWithInsensitive(const std::wstring& text, const std::wstring& tail) {
  return text.size() >= tail.size() &&
         _wcsicmp(text.c_str() + (text.size() - tail.size()), tail.c_str()) == 0;
}

int Watch(DWORD durationMs, const std::wstring& exe) {
  struct Seen {
    std::wstring className, title;
    DWORD pid;
    bool everVisible;
  };
  std::map<HWND, Seen> seen;
  std::map<DWORD, bool> isTarget;
  bool targetSeen = false;
  const ULONGLONG start = GetTickCount64();
  while (GetTickCount64() - start < durationMs) {
    bool targetAlive = false;
    for (HWND window : AllWindows()) {
      const DWORD pid = PidOf(window);
      auto known = isTarget.find(pid);
      if (known == isTarget.end()) {
        known = isTarget.emplace(pid, EndsWithInsensitive(ExeOf(pid), exe)).first;
      }
      if (!known->second)
        continue;
      targetAlive = true;
      auto& entry = seen[window];
      if (entry.className.empty())
        entry = {ClassOf(window), TextOf(window), pid, false};
      if (IsWindowVisible(window))
        entry.everVisible = true;
    }
    if (targetAlive)
      targetSeen = true;
    if (targetSeen && !targetAlive)
      break;
    Sleep(5);
  }
  Print("windows", static_cast<long long>(seen.size()));
  for (const auto& [window, entry] : seen) {
    Print("window", Utf8(entry.className) + "|" + Utf8(entry.title) + "|" +
                        std::to_string(entry.pid) + "|" +
                        (entry.everVisible ? "visible" : "hidden"));
  }
  return 0;
}

HWND WaitFor(DWORD timeoutMs, bool (*match)(HWND, const std::wstring&), const std::wstring& key) {
  const ULONGLONG start = GetTickCount64();
  do {
    for (HWND window : AllWindows()) {
      if (match(window, key))
        return window;
    }
    Sleep(10);
  } while (GetTickCount64() - start < timeoutMs);
  return nullptr;
}

// Waits for a window of `className` and prints whether one came; null if none did.
HWND FindClass(const std::wstring& className, DWORD timeoutMs) {
  HWND window = WaitFor(
      timeoutMs, [](HWND w, const std::wstring& name) { return ClassOf(w) == name; }, className);
  Print("found", window != nullptr ? 1 : 0);
  return window;
}

int Find(const std::wstring& className, DWORD timeoutMs) {
  HWND window = FindClass(className, timeoutMs);
  if (window == nullptr)
    return 1;
  Describe(window);
  return 0;
}

// Which standard icon a message box shows, by drawing each one as the box would and comparing.
std::string IconOf(HWND box) {
  HWND iconControl = nullptr;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (ClassOf(child) == L"Static" &&
        (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child)) {
      iconControl = child;
    }
  }
  if (iconControl == nullptr)
    return "none";
  RECT rect{};
  GetWindowRect(iconControl, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  if (width <= 0 || height <= 0)
    return "none";

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* shown = nullptr;
  HBITMAP shot = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &shown, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, shot);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  const COLORREF background = GetPixel(memory, 0, 0);
  std::vector<unsigned> captured(static_cast<const unsigned*>(shown),
                                 static_cast<const unsigned*>(shown) + width * height);

  struct Candidate {
    const char* name;
    LPCWSTR id;
  };
  const Candidate candidates[] = {{"warning", IDI_WARNING},
                                  {"error", IDI_ERROR},
                                  {"information", IDI_INFORMATION},
                                  {"question", IDI_QUESTION}};
  std::string best = "unknown";
  long long bestDistance = -1;
  for (const Candidate& candidate : candidates) {
    HBRUSH brush = CreateSolidBrush(background);
    RECT all{0, 0, width, height};
    FillRect(memory, &all, brush);
    DeleteObject(brush);
    DrawIconEx(memory, 0, 0, LoadIconW(nullptr, candidate.id), 0, 0, 0, nullptr, DI_NORMAL);
    const auto* drawn = static_cast<const unsigned*>(shown);
    long long distance = 0;
    for (int i = 0; i < width * height; ++i) {
      for (int shift = 0; shift < 24; shift += 8) {
        distance +=
            std::abs(static_cast<int>((drawn[i] >> shift) & 0xFF) -
                     static_cast<int>((captured[static_cast<std::size_t>(i)] >> shift) & 0xFF));
      }
    }
    if (bestDistance < 0 || distance < bestDistance) {
      bestDistance = distance;
      best = candidate.name;
    }
  }
  SelectObject(memory, old);
  DeleteObject(shot);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return best;
}

int Box(const std::wstring& caption, DWORD timeoutMs, bool dismiss) {
  HWND box = WaitFor(
      timeoutMs,
      [](HWND w, const std::wstring& title) {
        return ClassOf(w) == L"#32770" && IsWindowVisible(w) && TextOf(w) == title;
      },
      caption);
  if (box == nullptr) {
    Print("found", 0);
    return 1;
  }
  Print("found", 1);
  Sleep(200);  // let it finish painting before its icon is read off the screen
  Describe(box);
  std::wstring text;
  HWND okButton = nullptr;
  int buttons = 0;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring kind = ClassOf(child);
    if (kind == L"Static" && (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
      if (!TextOf(child).empty())
        text = TextOf(child);
    } else if (kind == L"Button" && IsWindowVisible(child)) {
      ++buttons;
      Print("button", Utf8(TextOf(child)) + "|" + std::to_string(GetDlgCtrlID(child)));
      if (GetDlgCtrlID(child) == IDOK)
        okButton = child;
    }
  }
  Print("text", Utf8(text));
  Print("buttons", buttons);
  Print("icon", IconOf(box));
  if (dismiss) {
    if (okButton != nullptr) {
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(okButton));
    } else {
      PostMessageW(box, WM_CLOSE, 0, 0);
    }
    Print("dismissed", 1);
  }
  return 0;
}

int QueryEndSession(const std::wstring& className, DWORD timeoutMs) {
  // Sent the moment the window exists: the program may wait for its tick only briefly.
  HWND window = nullptr;
  for (const ULONGLONG start = GetTickCount64();
       (window = FindWindowW(className.c_str(), nullptr)) == nullptr &&
       GetTickCount64() - start < timeoutMs;) {
    Sleep(1);
  }
  if (window == nullptr) {
    Print("found", 0);
    return 1;
  }
  Print("found", 1);
  DWORD_PTR answer = 0;
  const ULONGLONG start = GetTickCount64();
  const LRESULT sent =
      SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 20000, &answer);
  Print("sent", sent != 0 ? 1 : 0);
  Print("answer", static_cast<long long>(answer));
  Print("elapsed_ms", static_cast<long long>(GetTickCount64() - start));
  return 0;
}

std::wstring Widen(const std::string& text) {
  if (text.empty())
    return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

int Spawn(const std::wstring& exe, const std::wstring& commandLineFile, DWORD timeoutMs) {
  FILE* file = _wfopen(commandLineFile.c_str(), L"rb");
  if (file == nullptr) {
    Print("error", "cannot read the command line file");
    return 1;
  }
  std::string bytes;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
    bytes.append(buffer, n);
  std::fclose(file);
  std::wstring commandLine = Widen(bytes);
  Print("length", static_cast<long long>(commandLine.size()));

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Print("error", static_cast<long long>(GetLastError()));
    return 1;
  }
  Print("pid", static_cast<long long>(process.dwProcessId));
  const DWORD waited = WaitForSingleObject(process.hProcess, timeoutMs);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  Print("exit", waited == WAIT_OBJECT_0 ? std::to_string(code) : std::string("timeout"));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}

int Shell(const std::wstring& exe, const std::wstring& parameters, DWORD timeoutMs) {
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = exe.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info) || info.hProcess == nullptr) {
    Print("error", static_cast<long long>(GetLastError()));
    return 1;
  }
  Print("pid", static_cast<long long>(GetProcessId(info.hProcess)));
  const DWORD waited = WaitForSingleObject(info.hProcess, timeoutMs);
  DWORD code = 0;
  GetExitCodeProcess(info.hProcess, &code);
  Print("exit", waited == WAIT_OBJECT_0 ? std::to_string(code) : std::string("timeout"));
  CloseHandle(info.hProcess);
  return 0;
}

int Close(const std::wstring& className, DWORD timeoutMs) {
  HWND window = FindClass(className, timeoutMs);
  if (window == nullptr)
    return 1;
  Print("posted", PostMessageW(window, WM_CLOSE, 0, 0) ? 1 : 0);
  return 0;
}

int Regions(DWORD pid, unsigned long long minimum, DWORD timeoutMs) {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  GlobalMemoryStatusEx(&status);
  Print("total_phys", static_cast<long long>(status.ullTotalPhys));
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
  if (process == nullptr) {
    Print("error", static_cast<long long>(GetLastError()));
    return 1;
  }
  int found = 0;
  const ULONGLONG start = GetTickCount64();
  do {
    const char* address = nullptr;
    MEMORY_BASIC_INFORMATION region{};
    while (VirtualQueryEx(process, address, &region, sizeof(region)) == sizeof(region)) {
      if (region.State == MEM_COMMIT && region.RegionSize >= minimum) {
        ++found;
        Print("region", std::to_string(region.RegionSize) + "|" + std::to_string(region.Protect) +
                            "|" + std::to_string(region.Type));
      }
      address = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    if (found == 0)
      Sleep(5);
  } while (found == 0 && GetTickCount64() - start < timeoutMs);
  CloseHandle(process);
  Print("found", found);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto number = [&](int index) {
    return argc > index ? static_cast<DWORD>(std::wcstoul(argv[index], nullptr, 10)) : 0;
  };
  if (command == L"watch" && argc >= 4)
    return Watch(number(2), argv[3]);
  if (command == L"find" && argc >= 4)
    return Find(argv[2], number(3));
  if (command == L"box" && argc >= 4) {
    return Box(argv[2], number(3), argc >= 5 && std::wstring(argv[4]) == L"dismiss");
  }
  if (command == L"query-end-session" && argc >= 4)
    return QueryEndSession(argv[2], number(3));
  if (command == L"spawn" && argc >= 5)
    return Spawn(argv[2], argv[3], number(4));
  if (command == L"shell" && argc >= 5)
    return Shell(argv[2], argv[3], number(4));
  if (command == L"close" && argc >= 4)
    return Close(argv[2], number(3));
  if (command == L"regions" && argc >= 5)
    return Regions(number(2), std::wcstoull(argv[3], nullptr, 10), number(4));
  std::fputs("usage: wintool watch|find|box|query-end-session|spawn|shell|close|regions ...\n",
             stderr);
  return 2;
}
