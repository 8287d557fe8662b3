// The Windows entry point: hands over to the program at once.
#include <windows.h>

#include "Trimbolt64.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  return RunTrimbolt64();
}
