#pragma once
// Runs the real CLumoDictGenDlg on a thread of its own and drives it from the test's
// thread with the messages a user's clicks and keys produce. Message boxes and choosers
// are found as the user sees them: top-level "#32770" windows of the process.

#include <windows.h>

#include <atomic>
#include <functional>
#include <optional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/lumo_app.h"
#include "app/remembered_facts.h"
#include "service/conversion_service.h"
#include "tests/support/test_support.h"

namespace app_test {

// What a message box showed.
struct BoxSeen {
  bool found = false;
  std::wstring caption;
  std::wstring text;
  bool warningIcon = false;
  bool questionIcon = false;
  // The status line's text while the box was open.
  std::wstring status;
};

// Waits up to timeoutMs for a message box with the caption "提示", reads it and presses
// button (IDOK, or IDYES or IDNO of a question). A box without that button is answered
// with the one it has of OK and No, so that nothing is left open.
// Another caption finds the box of that caption instead.
BoxSeen AnswerBox(DWORD timeoutMs, int button = IDOK, const std::wstring& caption = L"提示");

// Waits for a top-level dialog window other than `except` and message boxes, owned by
// owner; null when none came.
HWND WaitForChooser(HWND owner, DWORD timeoutMs);

// Waits for a message box owned by owner (a chooser's question, say) and presses button;
// false when none came.
bool AnswerOwnedBox(HWND owner, int button, DWORD timeoutMs);

// Waits for a top-level dialog window with this caption owned by owner; null when none
// came.
HWND WaitForOwnedDialog(HWND owner, const std::wstring& caption, DWORD timeoutMs);

// The chooser's file-name box.
HWND ChooserFileNameBox(HWND chooser);

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

// One control of a dialog template as the program's built resources hold it.
struct TemplateControl {
  int id = 0;
  RECT units{};       // left, top, width, height in dialog units
  std::wstring cls;   // the predefined classes by name: "Button", "Edit", "Static", ...
  std::wstring text;  // empty when the template gives a resource number instead
};

struct DialogTemplate {
  RECT units{};  // left, top, width, height in dialog units; the size is the client area's
  std::vector<TemplateControl> controls;  // in template order
};

// The extended dialog template `id` of the program's resources; no controls when it is
// missing, of the older kind or cut short.
DialogTemplate LoadDialogTemplate(int id);

class DialogHarness;

// The package the conversion service makes of request (which is what ldic convert runs),
// in the harness's folder; encoding as ldic's --encoding.
std::string ServicePackage(const DialogHarness& h, ConvertRequest request,
                           std::optional<TextEncoding> encoding = std::nullopt);

class DialogHarness {
 public:
  // withSettings: LumoDict's settings file exists (with an empty dictionary list).
  // remembered: what the registry holds from an earlier run (the test's own key, gone
  // with the harness); none when null.
  explicit DialogHarness(bool withSettings, const RememberedFacts* remembered = nullptr);
  ~DialogHarness();

  HWND Dialog() const { return m_dialog; }
  HWND Item(int id) const { return ::GetDlgItem(m_dialog, id); }
  std::wstring Text(int id) const;
  bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }
  bool Visible(int id) const { return ::IsWindowVisible(Item(id)) != FALSE; }
  // The id of the control that has the keyboard focus on the dialog's thread; 0 for none.
  int FocusId() const;
  // Gives a control the focus as a click or Tab would.
  void Focus(int id) const;

  // Replaces a box's text as a user does: select all, then type the characters.
  void Type(int id, const std::wstring& text);
  // A click on a button; returns when its handler has returned.
  void Click(int id);
  // A click whose handler shows a message box: the box is read and answered with button.
  BoxSeen ClickExpectingBox(int id, DWORD timeoutMs = 10000, int button = IDOK);
  // Drops files on the dialog as the file manager does.
  void Drop(const std::vector<std::wstring>& paths);
  // Key down and up on a control, with Ctrl held when ctrl is set.
  void PressKey(int id, WORD key, bool ctrl);
  // Posts a key press to a control; the dialog's own message loop sees it.
  void PostKey(int id, WORD key);
  // The close box of the caption.
  void PostCloseBox();

  // Records every position given to the progress bar.
  void RecordProgress();
  std::vector<int> ProgressPositions() const;

  // Waits for the dialog to end; its result, or 0 when it did not end in time.
  INT_PTR WaitForEnd(DWORD timeoutMs);
  bool Ended() const { return m_ended; }

  const lumo_test::TempDir& Temp() const { return m_temp; }
  const std::wstring& SettingsPath() const { return m_settings; }

 private:
  lumo_test::TempDir m_temp;
  std::wstring m_settings;
  CLumoDictGen m_app;
  std::thread m_ui;
  std::atomic<DWORD> m_uiThreadId{0};
  std::atomic<bool> m_ended{false};
  std::atomic<INT_PTR> m_result{0};
  HWND m_dialog = nullptr;
};

}  // namespace app_test
