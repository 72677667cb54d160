// LumoDictGen.exe: the one application object and the entry point.
#include <windows.h>

#include "app/lumo_app.h"

CLumoDictGen theApp;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  theApp.InitInstance();
  return theApp.ExitCode();
}
