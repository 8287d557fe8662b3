// The Windows entry point: hands over to the program at once.
#include <windows.h>

#include "Trimbolt64.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return RunTrimbolt64();
}
