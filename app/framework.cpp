#include "app/framework.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

namespace ui {

HINSTANCE ResourceModule() { return ::GetModuleHandleW(nullptr); }

std::wstring LoadText(UserMessage id) {
  const wchar_t* resource = nullptr;
  // With a zero buffer size LoadStringW hands out the read-only resource text itself.
  int length = ::LoadStringW(ResourceModule(), static_cast<UINT>(id),
                             reinterpret_cast<LPWSTR>(&resource), 0);
  if (length > 0 && resource != nullptr) return std::wstring(resource, length);
  return UserMessageText(id);
}

std::wstring LoadResourceText(UINT id) {
  const wchar_t* resource = nullptr;
  int length = ::LoadStringW(ResourceModule(), id, reinterpret_cast<LPWSTR>(&resource), 0);
  return length > 0 && resource != nullptr ? std::wstring(resource, length) : std::wstring();
}

void ShowWarning(HWND owner, UserMessage text) { ShowWarning(owner, LoadText(text)); }

bool AskYesNo(HWND owner, UserMessage question) {
  return ::MessageBoxW(owner, LoadText(question).c_str(), LoadText(UserMessage::kCaption).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void ShowWarning(HWND owner, const std::wstring& text) {
  ::MessageBoxW(owner, text.c_str(), LoadText(UserMessage::kCaption).c_str(),
                MB_OK | MB_ICONWARNING);
}

std::wstring GetText(HWND window) {
  if (window == nullptr) return {};
  int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int copied = ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

bool WaitForThread(HANDLE thread, DWORD timeoutMs) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    DWORD remaining = INFINITE;
    if (timeoutMs != INFINITE) {
      ULONGLONG elapsed = ::GetTickCount64() - start;
      if (elapsed >= timeoutMs) return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
      remaining = static_cast<DWORD>(timeoutMs - elapsed);
    }
    DWORD woke = ::MsgWaitForMultipleObjects(1, &thread, FALSE, remaining, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) return true;
    if (woke == WAIT_OBJECT_0 + 1) {
      // Peeking delivers the messages other threads are sending us; nothing is removed.
      MSG msg;
      ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      continue;
    }
    if (woke == WAIT_TIMEOUT) return false;
    return ::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
  }
}

// ---- CDialogBase ----

CDialogBase::CDialogBase(UINT templateId, HWND parent)
    : m_parent(parent), m_templateId(templateId) {}

CDialogBase::~CDialogBase() = default;

INT_PTR CDialogBase::DoModal() {
  return ::DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(m_templateId), m_parent,
                           &CDialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialogBase::OnHandlerFailed() { ShowWarning(m_hWnd, UserMessage::kConvertFailed); }

void CDialogBase::EndDialog(INT_PTR result) {
  if (m_hWnd != nullptr) ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  CDialogBase* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogBase*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr) self->m_hWnd = window;
  } else {
    self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(window, DWLP_USER));
  }
  if (self == nullptr) return FALSE;

  INT_PTR result = FALSE;
  // An exception must never unwind into the system's code that called us; the dialog
  // is told instead, so that a run does not stay "running" forever.
  try {
    bool handled = false;
    result = self->Dispatch(message, wParam, lParam, &handled);
  } catch (...) {
    result = FALSE;
    try {
      self->OnHandlerFailed();
    } catch (...) {
    }
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(window, DWLP_USER, 0);
    self->m_hWnd = nullptr;
  }
  return result;
}

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
  if (message == WM_INITDIALOG) {
    *handled = true;
    return OnInitDialog();
  }
  if (message == WM_DESTROY) OnDestroy();

  const bool isCtlColor = message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC;
  MessageMap map = GetMessageMap();
  for (size_t i = 0; i < map.count; ++i) {
    const MessageMapEntry& entry = map.entries[i];
    switch (entry.kind) {
      case EntryKind::kMessage:
        if (entry.message == message) {
          *handled = true;
          LRESULT r = (this->*entry.onMessage)(wParam, lParam);
          // These few messages take a dialog procedure's return value as their result.
          if (message == WM_QUERYDRAGICON || message == WM_COMPAREITEM ||
              message == WM_VKEYTOITEM || message == WM_CHARTOITEM)
            return static_cast<INT_PTR>(r);
          ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, r);
          return TRUE;
        }
        break;
      case EntryKind::kCommand:
        if (message == WM_COMMAND && HIWORD(wParam) == entry.code &&
            LOWORD(wParam) == entry.id) {
          *handled = true;
          (this->*entry.onCommand)();
          return TRUE;
        }
        break;
      case EntryKind::kCtlColor:
        if (isCtlColor) {
          *handled = true;
          return reinterpret_cast<INT_PTR>((this->*entry.onColor)(
              reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), message));
        }
        break;
    }
  }
  return FALSE;
}

// ---- CMyEdit ----

CMyEdit::~CMyEdit() { Detach(); }

bool CMyEdit::Attach(HWND edit) {
  Detach();
  if (edit == nullptr) return false;
  m_hWnd = edit;
  if (!::SetWindowSubclass(edit, &CMyEdit::WindowProc, 1,
                           reinterpret_cast<DWORD_PTR>(this))) {
    m_hWnd = nullptr;
    return false;
  }
  return true;
}

void CMyEdit::Detach() {
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd))
    ::RemoveWindowSubclass(m_hWnd, &CMyEdit::WindowProc, 1);
  m_hWnd = nullptr;
}

LRESULT CALLBACK CMyEdit::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR /*subclassId*/, DWORD_PTR data) {
  CMyEdit* self = reinterpret_cast<CMyEdit*>(data);
  if (message == WM_KEYDOWN && wParam == 'A' && ::GetKeyState(VK_CONTROL) < 0) {
    ::SendMessageW(window, EM_SETSEL, 0, -1);
    ::SendMessageW(window, EM_SCROLLCARET, 0, 0);
  }
  if (message == WM_NCDESTROY && self != nullptr) {
    LRESULT r = ::DefSubclassProc(window, message, wParam, lParam);
    self->Detach();
    return r;
  }
  // The key is not swallowed: the edit control still sees it.
  return ::DefSubclassProc(window, message, wParam, lParam);
}

// ---- CStatusBar ----

CStatusBar::~CStatusBar() {
  if (m_hWnd != nullptr && ::IsWindow(m_hWnd)) ::DestroyWindow(m_hWnd);
}

bool CStatusBar::Create(HWND parent, UINT id) {
  // Placed by DockBottom rather than by the control itself, so that its height is ours.
  m_hWnd = ::CreateWindowExW(0, STATUSCLASSNAMEW, nullptr,
                             WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | CCS_BOTTOM |
                                 CCS_NORESIZE | CCS_NOPARENTALIGN,
                             0, 0, 0, 0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                             ResourceModule(), nullptr);
  if (m_hWnd == nullptr) return false;
  // Below its siblings, and clipped by them: the status line and the progress bar are
  // drawn over it.
  ::SetWindowPos(m_hWnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  return true;
}

void CStatusBar::DockBottom(int height) {
  if (m_hWnd == nullptr) return;
  RECT client{};
  ::GetClientRect(::GetParent(m_hWnd), &client);
  ::MoveWindow(m_hWnd, 0, client.bottom - height, client.right, height, TRUE);
}

// ---- File choosers ----

namespace {

std::wstring FilterList(const std::wstring& filter) {
  std::wstring list = filter;
  for (wchar_t& c : list)
    if (c == L'|') c = L'\0';
  list.push_back(L'\0');
  return list;
}

std::wstring RunChooser(HWND owner, const FileChooserOptions& options, bool save) {
  std::vector<wchar_t> file(32768, L'\0');
  options.fileName.copy(file.data(), file.size() - 1);
  std::wstring filter = FilterList(options.filter);

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = options.defaultExtension.empty() ? nullptr : options.defaultExtension.c_str();
  ofn.lpstrInitialDir = options.initialFolder.empty() ? nullptr : options.initialFolder.c_str();
  ofn.Flags = options.flags | OFN_EXPLORER;
  BOOL ok = save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
  if (!ok) return {};
  return file.data();
}

}  // namespace

std::wstring ChooseOpenFile(HWND owner, const FileChooserOptions& options) {
  return RunChooser(owner, options, false);
}

std::wstring ChooseSaveFile(HWND owner, const FileChooserOptions& options) {
  return RunChooser(owner, options, true);
}

}  // namespace ui
