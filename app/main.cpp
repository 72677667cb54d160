// LumoDictGen.exe: the one application object and the entry point.
#include <windows.h>

#include "app/lumo_app.h"

CLumoDictGen theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Held for the life of the process, so that the installer and the uninstaller can tell
  // that the program is running before they replace or remove it. Several copies may run:
  // each opens the same mutex. Windows closes the handle when the process ends.
  ::CreateMutexW(nullptr, FALSE, kRunningMutexName);
  theApp.InitInstance();
  return theApp.ExitCode();
}
