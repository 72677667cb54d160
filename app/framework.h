#pragma once
// The little of a Windows application framework that the program uses: texts from the
// string table, the warning box and the question, a modal dialog that dispatches through a
// message-map table, edit boxes with Ctrl+A, the bottom status bar and the two file choosers.

#include <windows.h>

#include <string>

#include "common/user_messages.h"

namespace ui {

// The module whose resources hold the dialog template, the icon and the string table.
HINSTANCE ResourceModule();

// A text of the string table; falls back to the built-in text if the resource is missing.
std::wstring LoadText(UserMessage id);

// A text of the program's own string table by resource id; empty when missing.
std::wstring LoadResourceText(UINT id);

// The program's warning box: caption "提示", warning icon, one OK button.
void ShowWarning(HWND owner, UserMessage text);
void ShowWarning(HWND owner, const std::wstring& text);

// Its question: caption "提示", question icon, buttons Yes and No; true for Yes.
bool AskYesNo(HWND owner, UserMessage question);

// Text of any window, of any length.
std::wstring GetText(HWND window);

// Waits for a thread to end, for at most timeoutMs (INFINITE for no limit), while
// delivering messages that other threads send to this thread's windows, so that a worker
// blocked in a synchronous send cannot hold the wait up. True when the thread ended.
bool WaitForThread(HANDLE thread, DWORD timeoutMs);

// A modal dialog on a template of the resource module. Messages are looked up in the
// derived class's message-map table, first matching entry wins; anything not found goes
// to the system's dialog handling.
class CDialogBase {
 public:
  explicit CDialogBase(UINT templateId, HWND parent = nullptr);
  virtual ~CDialogBase();
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Runs the dialog until EndDialog; returns its result, or -1 when it could not be made.
  INT_PTR DoModal();
  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  std::wstring GetItemText(int id) const { return GetText(GetDlgItem(id)); }
  void SetItemText(int id, const std::wstring& text) const {
    ::SetDlgItemTextW(m_hWnd, id, text.c_str());
  }
  void EndDialog(INT_PTR result);

 protected:
  using MessageHandler = LRESULT (CDialogBase::*)(WPARAM, LPARAM);
  using CommandHandler = void (CDialogBase::*)();
  using ColorHandler = HBRUSH (CDialogBase::*)(HDC, HWND, UINT);

  enum class EntryKind {
    kMessage,   // handler(wParam, lParam); its result is the message's result
    kCommand,   // WM_COMMAND with this notification code from control id
    kCtlColor,  // the WM_CTLCOLOR... family; the handler returns the brush
  };
  struct MessageMapEntry {
    EntryKind kind;
    UINT message;  // kMessage only
    UINT code;     // kCommand only
    UINT id;       // kCommand only
    MessageHandler onMessage;
    CommandHandler onCommand;
    ColorHandler onColor;
  };
  struct MessageMap {
    const MessageMapEntry* entries;
    size_t count;
  };

  template <class T>
  static MessageMapEntry MapMessage(UINT message, LRESULT (T::*handler)(WPARAM, LPARAM)) {
    return {EntryKind::kMessage, message, 0, 0, static_cast<MessageHandler>(handler), nullptr,
            nullptr};
  }
  template <class T>
  static MessageMapEntry MapCommand(UINT code, UINT id, void (T::*handler)()) {
    return {EntryKind::kCommand, WM_COMMAND, code, id, nullptr,
            static_cast<CommandHandler>(handler), nullptr};
  }
  template <class T>
  static MessageMapEntry MapCtlColor(HBRUSH (T::*handler)(HDC, HWND, UINT)) {
    return {EntryKind::kCtlColor, 0, 0, 0, nullptr, nullptr, static_cast<ColorHandler>(handler)};
  }

  virtual MessageMap GetMessageMap() const = 0;
  // Called for WM_INITDIALOG; true lets the dialog manager set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // Called for WM_DESTROY while the window still exists.
  virtual void OnDestroy() {}
  // Called when a handler threw: the exception stops at the dialog procedure, so the user
  // must be told here. Shows "转换失败，请您重新转换" unless overridden.
  virtual void OnHandlerFailed();

  HWND m_hWnd = nullptr;
  HWND m_parent = nullptr;
  UINT m_templateId;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
};

// An edit box in which Ctrl+A selects the whole text. Attached to a dialog's control by
// subclassing; every key still reaches the edit control afterwards.
class CMyEdit {
 public:
  CMyEdit() = default;
  ~CMyEdit();
  CMyEdit(const CMyEdit&) = delete;
  CMyEdit& operator=(const CMyEdit&) = delete;

  bool Attach(HWND edit);
  void Detach();
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR subclassId, DWORD_PTR self);
  HWND m_hWnd = nullptr;
  WNDPROC m_baseProc = nullptr;
};

// The empty bar along the bottom of the dialog; the status line and the progress bar lie
// over it.
class CStatusBar {
 public:
  CStatusBar() = default;
  ~CStatusBar();
  CStatusBar(const CStatusBar&) = delete;
  CStatusBar& operator=(const CStatusBar&) = delete;

  bool Create(HWND parent, UINT id);
  // Places the bar at the bottom of the parent's client area, height pixels high.
  void DockBottom(int height);
  HWND GetSafeHwnd() const { return m_hWnd; }

 private:
  HWND m_hWnd = nullptr;
};

// The common open and save choosers. filter uses "|" between its parts and ends with "||"
// or "|". Empty result when the user cancelled.
struct FileChooserOptions {
  std::wstring defaultExtension;
  std::wstring fileName;  // proposed name
  DWORD flags = 0;
  std::wstring filter;
  std::wstring initialFolder;  // empty: where the chooser itself would start
};
std::wstring ChooseOpenFile(HWND owner, const FileChooserOptions& options);
std::wstring ChooseSaveFile(HWND owner, const FileChooserOptions& options);

}  // namespace ui
