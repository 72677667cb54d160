#include "tests/app/dialog_harness.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>
#include <iterator>
#include <mutex>

#include "app/main_dialog.h"
#include "app/resource.h"

#include <gtest/gtest.h>

namespace app_test {

namespace {

constexpr wchar_t kCaption[] = L"提示";
constexpr wchar_t kTitle[] = L"Lumo词典格式转换助手";

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

struct FindData {
  DWORD process;
  std::function<bool(HWND)> accept;
  HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM param) {
  auto* data = reinterpret_cast<FindData*>(param);
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process == data->process && ::IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
      data->accept(window)) {
    data->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForWindow(const std::function<bool(HWND)>& accept, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil(
      [&] {
        FindData data{::GetCurrentProcessId(), accept, nullptr};
        ::EnumWindows(&FindTopLevel, reinterpret_cast<LPARAM>(&data));
        found = data.found;
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

BOOL CALLBACK CollectBoxParts(HWND child, LPARAM param) {
  auto* seen = reinterpret_cast<BoxSeen*>(param);
  if (ClassOf(child) != L"Static") return TRUE;
  const LONG style = ::GetWindowLongW(child, GWL_STYLE);
  if ((style & SS_TYPEMASK) == SS_ICON) {
    HICON icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
    seen->warningIcon = icon != nullptr && icon == ::LoadIconW(nullptr, IDI_WARNING);
    seen->questionIcon = icon != nullptr && icon == ::LoadIconW(nullptr, IDI_QUESTION);
  } else {
    std::wstring text = ui::GetText(child);
    if (!text.empty()) seen->text += text;
  }
  return TRUE;
}

std::mutex g_progressMutex;
std::vector<int> g_progress;
WNDPROC g_progressProc = nullptr;

LRESULT CALLBACK RecordingProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == PBM_SETPOS) {
    std::lock_guard<std::mutex> lock(g_progressMutex);
    g_progress.push_back(static_cast<int>(wParam));
  }
  return ::CallWindowProcW(g_progressProc, window, message, wParam, lParam);
}

// Walks a dialog template's fields in order. Reads past its end give zeros, and the
// template counts as cut short.
struct TemplateReader {
  const BYTE* data;
  size_t size;
  size_t pos = 0;

  bool CutShort() const { return pos > size; }
  void Skip(size_t bytes) { pos += bytes; }
  // Controls start on a DWORD boundary, counted from the template's start.
  void AlignToDword() { pos = (pos + 3) & ~size_t{3}; }

  template <class T>
  T Get() {
    T value{};
    if (pos + sizeof(T) <= size) std::memcpy(&value, data + pos, sizeof(T));
    pos += sizeof(T);
    return value;
  }

  // x, y, cx, cy as left, top, width, height.
  RECT Units() {
    const short x = Get<short>(), y = Get<short>(), cx = Get<short>(), cy = Get<short>();
    return {x, y, cx, cy};
  }

  // A field that is empty (0), a number (0xFFFF, then the number) or a string ending in 0.
  std::wstring NameOrNumber(WORD* number = nullptr) {
    WORD first = Get<WORD>();
    if (first == 0xFFFF) {
      const WORD value = Get<WORD>();
      if (number != nullptr) *number = value;
      return {};
    }
    std::wstring name;
    for (; first != 0; first = Get<WORD>()) name.push_back(static_cast<wchar_t>(first));
    return name;
  }
};

// The classes a template names by number, from 0x0080 on.
std::wstring PredefinedClass(WORD number) {
  static const wchar_t* const kNames[] = {L"Button",  L"Edit",      L"Static",
                                          L"ListBox", L"ScrollBar", L"ComboBox"};
  const size_t index = number - 0x0080u;  // wraps around below 0x0080
  return index < std::size(kNames) ? kNames[index] : L"#" + std::to_wstring(number);
}

}  // namespace

DialogTemplate LoadDialogTemplate(int id) {
  DialogTemplate result;
  const HMODULE module = ::GetModuleHandleW(nullptr);
  const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), RT_DIALOG);
  const HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr) return result;
  TemplateReader in{static_cast<const BYTE*>(data), ::SizeofResource(module, found)};

  // The extended header: version 1 and 0xFFFF, help id, extended style, style, the
  // number of controls, the dialog's place; then menu, class, title and, with
  // DS_SETFONT, the font's size, weight, italic flag, character set and face name.
  if (in.Get<WORD>() != 1 || in.Get<WORD>() != 0xFFFF) return result;
  in.Skip(2 * sizeof(DWORD));
  const DWORD style = in.Get<DWORD>();
  const WORD count = in.Get<WORD>();
  result.units = in.Units();
  in.NameOrNumber();
  in.NameOrNumber();
  in.NameOrNumber();
  if (style & DS_SETFONT) {
    in.Skip(2 * sizeof(WORD) + 2 * sizeof(BYTE));
    in.NameOrNumber();
  }

  // Each control: help id, extended style, style, place, id, class, text, and the size
  // of the creation data that follows.
  std::vector<TemplateControl> controls(count);
  for (TemplateControl& control : controls) {
    in.AlignToDword();
    in.Skip(3 * sizeof(DWORD));
    control.units = in.Units();
    control.id = static_cast<int>(in.Get<DWORD>());
    WORD number = 0;
    control.cls = in.NameOrNumber(&number);
    if (control.cls.empty()) control.cls = PredefinedClass(number);
    control.text = in.NameOrNumber();
    in.Skip(in.Get<WORD>());
  }
  if (!in.CutShort()) result.controls = std::move(controls);
  return result;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  const ULONGLONG end = ::GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (::GetTickCount64() >= end) return false;
    ::Sleep(10);
  }
}

BoxSeen AnswerBox(DWORD timeoutMs, int button, const std::wstring& caption) {
  BoxSeen seen;
  HWND box = WaitForWindow([&caption](HWND w) { return ui::GetText(w) == caption; }, timeoutMs);
  if (box == nullptr) return seen;
  seen.found = true;
  seen.caption = ui::GetText(box);
  if (HWND owner = ::GetWindow(box, GW_OWNER)) seen.status = ui::GetText(::GetDlgItem(owner, IDC_STATUS));
  // The box may still be filling in its controls.
  WaitUntil([&] {
    BoxSeen parts;
    ::EnumChildWindows(box, &CollectBoxParts, reinterpret_cast<LPARAM>(&parts));
    return !parts.text.empty();
  }, 2000);
  ::EnumChildWindows(box, &CollectBoxParts, reinterpret_cast<LPARAM>(&seen));
  HWND press = ::GetDlgItem(box, button);
  for (const int other : {IDOK, IDNO})
    if (press == nullptr) press = ::GetDlgItem(box, other);
  ::PostMessageW(press, BM_CLICK, 0, 0);
  WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5000);
  return seen;
}

HWND WaitForChooser(HWND owner, DWORD timeoutMs) {
  return WaitForWindow(
      [owner](HWND w) {
        return w != owner && ::GetWindow(w, GW_OWNER) == owner && ui::GetText(w) != kCaption &&
               ChooserFileNameBox(w) != nullptr;
      },
      timeoutMs);
}

bool AnswerOwnedBox(HWND owner, int button, DWORD timeoutMs) {
  HWND box = WaitForWindow(
      [owner, button](HWND w) { return ::GetWindow(w, GW_OWNER) == owner && ::GetDlgItem(w, button) != nullptr; },
      timeoutMs);
  if (box == nullptr) return false;
  ::PostMessageW(::GetDlgItem(box, button), BM_CLICK, 0, 0);
  return WaitUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); }, 5000);
}

HWND WaitForOwnedDialog(HWND owner, const std::wstring& caption, DWORD timeoutMs) {
  return WaitForWindow(
      [&](HWND w) { return ::GetWindow(w, GW_OWNER) == owner && ui::GetText(w) == caption; }, timeoutMs);
}

std::string ServicePackage(const DialogHarness& h, ConvertRequest request, std::optional<TextEncoding> encoding) {
  request.package = h.Temp().File(L"service.ldic");
  request.folder = h.Temp().Path();
  lumo_test::RecordingObserver observer;
  std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer, encoding);
  ConvertThreadProc(job.get());
  EXPECT_TRUE(FinishConversion(*job, observer.DoneSuccess(), request.package,
                               BuildMetadataBlock(request.facts), {}, observer));
  return lumo_test::ReadBytes(request.package);
}

HWND ChooserFileNameBox(HWND chooser) {
  // The file-name box is a combo box (cmb13) or an edit (edt1), depending on the system.
  if (HWND combo = ::GetDlgItem(chooser, 0x047C)) return combo;
  return ::GetDlgItem(chooser, 0x0480);
}

DialogHarness::DialogHarness(bool withSettings, const RememberedFacts* remembered) {
  // The remembered facts too are the test's own, in a key named after its folder.
  const std::wstring& temp = m_temp.Path();
  SetRememberedFactsKeyForTesting(L"Software\\LumoDictGen-test\\" + temp.substr(temp.find_last_of(L'\\') + 1));
  ::RegDeleteTreeW(HKEY_CURRENT_USER, RememberedFactsKey().c_str());
  if (remembered != nullptr) SaveRememberedFacts(*remembered);
  // LumoDict's settings live in the test's own folder, never the user's.
  const std::wstring folder = m_temp.File(L"Norvane");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ::CreateDirectoryW((folder + L"\\LumoDict").c_str(), nullptr);
  m_settings = folder + L"\\LumoDict\\LumoDict.ini";
  if (withSettings) lumo_test::WriteBytes(m_settings, "[Dictionary]\r\nQueryDictNum=0\r\n");
  m_app.SetProfileName(m_settings);
  InitCommonControlsForDialog();

  m_ui = std::thread([this] {
    m_uiThreadId = ::GetCurrentThreadId();
    CLumoDictGenDlg dialog;
    m_result = dialog.DoModal();
    m_ended = true;
  });
  m_dialog = WaitForWindow(
      [this](HWND w) {
        return ui::GetText(w) == kTitle && ::GetWindowThreadProcessId(w, nullptr) == m_uiThreadId;
      },
      20000);
}

DialogHarness::~DialogHarness() {
  // Answer whatever is still open, then close the dialog with its Exit button until it
  // ends (a first press may only cancel a run).
  for (int i = 0; i < 20 && !m_ended; ++i) {
    if (m_dialog != nullptr && ::IsWindow(m_dialog))
      ::PostMessageW(m_dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    AnswerBox(100);
    WaitUntil([this] { return m_ended.load(); }, 500);
  }
  if (m_ui.joinable()) {
    if (m_ended)
      m_ui.join();
    else
      m_ui.detach();
  }
  if (g_progressProc != nullptr) g_progressProc = nullptr;
  ::RegDeleteTreeW(HKEY_CURRENT_USER, RememberedFactsKey().c_str());
  SetRememberedFactsKeyForTesting({});
  ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\LumoDictGen-test");  // once no test's key is left
  ::SetCurrentDirectoryW(L"C:\\");
}

std::wstring DialogHarness::Text(int id) const { return ui::GetText(Item(id)); }

int DialogHarness::FocusId() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetGUIThreadInfo(m_uiThreadId, &info) || info.hwndFocus == nullptr) return 0;
  return ::GetDlgCtrlID(info.hwndFocus);
}

void DialogHarness::Focus(int id) const {
  ::SendMessageW(m_dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(id)), TRUE);
}

void DialogHarness::Type(int id, const std::wstring& text) {
  HWND box = Item(id);
  ::SendMessageW(box, EM_SETSEL, 0, -1);
  if (text.empty()) {
    ::SendMessageW(box, WM_CHAR, VK_BACK, 0);
    return;
  }
  for (wchar_t c : text) ::SendMessageW(box, WM_CHAR, c, 1);
}

void DialogHarness::Click(int id) { ::SendMessageW(Item(id), BM_CLICK, 0, 0); }

BoxSeen DialogHarness::ClickExpectingBox(int id, DWORD timeoutMs, int button) {
  auto box = std::async(std::launch::async, [timeoutMs, button] { return AnswerBox(timeoutMs, button); });
  Click(id);
  return box.get();
}

void DialogHarness::Drop(const std::vector<std::wstring>& paths) {
  size_t chars = 1;
  for (const auto& p : paths) chars += p.size() + 1;
  HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(::GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(drop + 1);
  for (const auto& p : paths) {
    p.copy(out, p.size());
    out += p.size() + 1;
  }
  ::GlobalUnlock(memory);
  // The dialog releases the drop with DragFinish.
  ::SendMessageW(m_dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

void DialogHarness::PressKey(int id, WORD key, bool ctrl) {
  // Sharing the dialog thread's input state lets the test hold Ctrl for it.
  const DWORD self = ::GetCurrentThreadId();
  ::AttachThreadInput(self, m_uiThreadId, TRUE);
  BYTE keys[256] = {};
  ::GetKeyboardState(keys);
  keys[VK_CONTROL] = ctrl ? 0x80 : 0;
  keys[VK_LCONTROL] = keys[VK_CONTROL];
  ::SetKeyboardState(keys);
  const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  ::SendMessageW(Item(id), WM_KEYDOWN, key, 1 | (scan << 16));
  ::SendMessageW(Item(id), WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000);
  keys[VK_CONTROL] = keys[VK_LCONTROL] = 0;
  ::SetKeyboardState(keys);
  ::AttachThreadInput(self, m_uiThreadId, FALSE);
}

void DialogHarness::PostKey(int id, WORD key) {
  const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
  ::PostMessageW(Item(id), WM_KEYDOWN, key, 1 | (scan << 16));
  ::PostMessageW(Item(id), WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000);
}

void DialogHarness::PostCloseBox() { ::PostMessageW(m_dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }

void DialogHarness::RecordProgress() {
  {
    std::lock_guard<std::mutex> lock(g_progressMutex);
    g_progress.clear();
  }
  if (g_progressProc != nullptr) return;
  // Replacing the procedure of another thread's window is allowed within a process.
  g_progressProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      Item(IDC_PROGRESS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RecordingProgressProc)));
}

std::vector<int> DialogHarness::ProgressPositions() const {
  std::lock_guard<std::mutex> lock(g_progressMutex);
  return g_progress;
}

INT_PTR DialogHarness::WaitForEnd(DWORD timeoutMs) {
  if (!WaitUntil([this] { return m_ended.load(); }, timeoutMs)) return 0;
  return m_result;
}

}  // namespace app_test
