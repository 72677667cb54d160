#include "app/lumo_app.h"

#include <commctrl.h>

#include "app/framework.h"
#include "app/main_dialog.h"
#include "platform/settings_location.h"

namespace {
CLumoDictGen* g_current = nullptr;
}

CLumoDictGen::CLumoDictGen() : m_previous(g_current) { g_current = this; }

CLumoDictGen::~CLumoDictGen() {
  if (g_current == this) g_current = m_previous;
}

CLumoDictGen* CLumoDictGen::Current() { return g_current; }

void InitCommonControlsForDialog() {
  INITCOMMONCONTROLSEX controls{sizeof(controls),
                                ICC_DATE_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES |
                                    ICC_STANDARD_CLASSES | ICC_LISTVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);
}

BOOL CLumoDictGen::InitInstance() {
  InitCommonControlsForDialog();
  // LumoDict's settings file becomes the profile store; it is neither tested nor created
  // here (the dialog tests it when it opens).
  m_profileName = platform::LumoDictSettingsPath();

  CLumoDictGenDlg dialog;
  const INT_PTR result = dialog.DoModal();
  m_mainWnd = nullptr;
  if (result == -1) {
    ui::ShowWarning(nullptr, UserMessage::kWindowFailed);
    m_exitCode = 1;
  }
  return FALSE;
}
