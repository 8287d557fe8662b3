// The Windows entry point, and the one place where the platform calls up into the program. It
// belongs to the platform: it is the only code that needs the Windows signature of an entry, and
// keeping it here keeps windows.h out of the program's own modules. It hands over at once.
#include <windows.h>

#include "Trimbolt64.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*show*/) {
  return RunTrimbolt64();
}
