#pragma once
// The application object: finds LumoDict's settings file, makes it the profile store and
// runs the main dialog. The program keeps no settings of its own.

#include <windows.h>

#include <string>

// The named mutex that LumoDictGen.exe holds while it runs. The installer's script
// (installer/LumoDictGen.nsi) opens it by this name: change both together.
inline constexpr wchar_t kRunningMutexName[] = L"LumoDictGen.Running";

class CLumoDictGen {
 public:
  CLumoDictGen();
  virtual ~CLumoDictGen();
  CLumoDictGen(const CLumoDictGen&) = delete;
  CLumoDictGen& operator=(const CLumoDictGen&) = delete;

  // Start-up: sets the profile name to LumoDict's settings file and runs the main dialog
  // until it closes. Always false: there is no message loop after the dialog.
  virtual BOOL InitInstance();

  // The settings file every profile read and write goes to. It need not exist.
  const std::wstring& ProfileName() const { return m_profileName; }
  void SetProfileName(std::wstring path) { m_profileName = std::move(path); }

  // The process's exit status: 1 when the dialog could not be shown, else 0.
  int ExitCode() const { return m_exitCode; }

  // The main window while the dialog runs; null otherwise.
  HWND MainWindow() const { return m_mainWnd; }
  void SetMainWindow(HWND window) { m_mainWnd = window; }

  // The application object of the process (the most recently constructed one); null
  // when there is none.
  static CLumoDictGen* Current();

 private:
  std::wstring m_profileName;
  HWND m_mainWnd = nullptr;
  CLumoDictGen* m_previous = nullptr;
  int m_exitCode = 0;
};

// Registers the window classes of the common controls the dialog uses.
void InitCommonControlsForDialog();
