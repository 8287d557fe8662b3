// A GUI program that does what any windowed program does before its own work begins, and no
// more: it imports the DLLs Trimbolt64.exe imports (user32, gdi32, winmm), makes one hidden
// window, pumps what is queued and exits. Its run time, less the trivial exe's, is what Wine
// spends loading those DLLs and its window system driver.
#include <windows.h>

#include <mmsystem.h>

namespace {

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ::DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = L"TrimboltBenchWindowed";
  if (::RegisterClassW(&windowClass) == 0)
    return 1;
  HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, L"", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                  100, nullptr, nullptr, instance, nullptr);
  if (window == nullptr)
    return 1;
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
    ::DispatchMessageW(&message);
  ::DestroyWindow(window);
  // Stops any sound of this process: nothing plays, but winmm is imported and loaded.
  ::PlaySoundW(nullptr, nullptr, 0);
  return 0;
}
