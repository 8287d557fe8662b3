// The smallest GUI program: it exits at once. Started the same way as Trimbolt64.exe, its run
// time is what Wine itself takes to start and end a process.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return 0;
}
