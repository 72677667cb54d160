// The main dialog's layout, input choosers, prompt, colours and validation. The run
// itself is in convert_control.cpp.

#include "app/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>
#include <direct.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>

#include "app/lumo_app.h"
#include "app/remembered_facts.h"
#include "app/resource.h"
#include "common/paths.h"
#include "common/utf.h"
#include "common/window_messages.h"
#include "lumo_product.h"
#include "package/format.h"

DerivedNames DeriveFromInputPath(std::wstring_view path) {
  // The file name's own extension goes, as ldic's default package path loses it: a "." in
  // a folder's name or at the start of the file's is none.
  const std::wstring_view base = WithoutFileNameExtension(path);
  return {std::wstring(base) + L".ldic", std::wstring(PathFileName(base))};
}

CLumoDictGenDlg::CLumoDictGenDlg() : CDialogBase(IDD_LUMODICTGEN_DIALOG) {
  m_hIcon = ::LoadIconW(ui::ResourceModule(), MAKEINTRESOURCEW(IDI_MAINFRAME));
}

ui::CDialogBase::MessageMap CLumoDictGenDlg::GetMessageMap() const {
  using D = CLumoDictGenDlg;
  using Msg = LRESULT (D::*)(WPARAM, LPARAM);
  static const MessageMapEntry kMap[] = {
      MapMessage<D>(WM_PAINT, &D::OnPaint),
      MapMessage<D>(WM_QUERYDRAGICON, &D::OnQueryDragIcon),
      MapCtlColor<D>(&D::OnCtlColor),
      MapCommand<D>(BN_CLICKED, IDC_BUTTON_IMPORT, &D::OnImport),
      MapCommand<D>(BN_CLICKED, IDC_BUTTON_PREVIEW, &D::OnPreview),
      MapCommand<D>(BN_CLICKED, IDC_BUTTON_SAVEAS, &D::OnSaveAs),
      MapCommand<D>(BN_CLICKED, IDOK, &D::OnConvert),
      MapCommand<D>(BN_CLICKED, IDCANCEL, &D::OnExitOrCancel),
      MapMessage<D>(WM_CONVERT_DONE, static_cast<Msg>(&D::OnConvertDone)),
      MapMessage<D>(WM_CONVERT_PROGRESS, static_cast<Msg>(&D::OnConvertProgress)),
      MapCommand<D>(EN_CHANGE, IDC_EDIT_INPUT, &D::OnInputChanged),
      MapMessage<D>(WM_DROPFILES, &D::OnDropFiles),
      MapCommand<D>(BN_CLICKED, IDC_BUTTON_OPEN_FOLDER, &D::OnOpenFolder),
      MapMessage<D>(WM_SYSCOMMAND, &D::OnSysCommand),
  };
  return {kMap, sizeof(kMap) / sizeof(kMap[0])};
}

BOOL CLumoDictGenDlg::OnInitDialog() {
  m_editInput.Attach(GetDlgItem(IDC_EDIT_INPUT));
  m_editSave.Attach(GetDlgItem(IDC_EDIT_SAVE));
  m_editName.Attach(GetDlgItem(IDC_EDIT_NAME));
  m_editAuthor.Attach(GetDlgItem(IDC_EDIT_AUTHOR));
  m_editNumber.Attach(GetDlgItem(IDC_EDIT_NUMBER));
  m_editVersion.Attach(GetDlgItem(IDC_EDIT_VERSION));
  if (CLumoDictGen* app = CLumoDictGen::Current()) app->SetMainWindow(m_hWnd);

  ::SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  ::SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

  const CLumoDictGen* app = CLumoDictGen::Current();
  const std::wstring settings = app != nullptr ? app->ProfileName() : std::wstring();
  if (!settings.empty() && ::PathFileExistsW(settings.c_str())) {
    ::SendMessageW(GetDlgItem(IDC_CHECK_REGISTER), BM_SETCHECK, BST_CHECKED, 0);
  } else {
    ::EnableWindow(GetDlgItem(IDC_CHECK_REGISTER), FALSE);
    SetItemText(IDC_STATUS, ui::LoadText(UserMessage::kNoSettingsFile));
  }

  HWND progress = GetDlgItem(IDC_PROGRESS);
  ::SendMessageW(progress, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
  ::ShowWindow(progress, SW_HIDE);

  // A dialog without its status bar is not the program's window: it ends at once, and the
  // application tells the user.
  if (!m_statusBar.Create(m_hWnd, IDW_STATUS_BAR)) {
    EndDialog(-1);
    return TRUE;
  }
  // 20 pixels at 96 dots per inch, scaled for the window's screen.
  m_statusBar.DockBottom(::MulDiv(20, static_cast<int>(::GetDpiForWindow(m_hWnd)), 96));

  m_job.reset();
  ::EnableWindow(GetDlgItem(IDOK), FALSE);

  // The prompt is the box's cue, drawn grey while the box is empty, focused or not: the
  // box's text is only ever what the user typed or chose.
  const std::wstring prompt = ui::LoadText(UserMessage::kInputPrompt);
  ::SendMessageW(GetDlgItem(IDC_EDIT_INPUT), EM_SETCUEBANNER, TRUE,
                 reinterpret_cast<LPARAM>(prompt.c_str()));

  ::DragAcceptFiles(m_hWnd, TRUE);

  // What the user typed for the last conversion; the name, the date and the paths are this
  // list's own and start as always.
  const RememberedFacts remembered = LoadRememberedFacts();
  SetItemText(IDC_EDIT_AUTHOR, remembered.author);
  SetItemText(IDC_EDIT_NUMBER, remembered.lumo);
  SetItemText(IDC_EDIT_VERSION, remembered.version);
  m_rememberedFolder = remembered.folder;

  // "About" at the end of the system menu.
  if (HMENU menu = ::GetSystemMenu(m_hWnd, FALSE)) {
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_ABOUT, ui::LoadText(UserMessage::kAboutMenu).c_str());
  }
  return TRUE;
}

LRESULT CLumoDictGenDlg::OnSysCommand(WPARAM wParam, LPARAM lParam) {
  if ((wParam & 0xFFF0) != IDM_ABOUT) return ::DefWindowProcW(m_hWnd, WM_SYSCOMMAND, wParam, lParam);
  const std::wstring text = FormatUserMessage(ui::LoadText(UserMessage::kAboutText),
                                              Utf8ToWideText(LUMO_VERSION), Utf8ToWideText(LUMO_COPYRIGHT));
  std::wstring caption = ui::LoadText(UserMessage::kAboutMenu);
  if (caption.ends_with(L"...")) caption.resize(caption.size() - 3);
  ::MessageBoxW(m_hWnd, text.c_str(), caption.c_str(), MB_OK | MB_ICONINFORMATION);
  return 0;
}

namespace {

// The file manager, opened on the package's folder with the package selected.
void OpenFolderSelecting(const std::wstring& package) {
  if (PIDLIST_ABSOLUTE item = ::ILCreateFromPathW(package.c_str())) {
    const HRESULT shown = ::SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
    ::ILFree(item);
    if (SUCCEEDED(shown)) return;
  }
  const std::wstring arguments = L"/select,\"" + package + L"\"";
  ::ShellExecuteW(nullptr, L"open", L"explorer.exe", arguments.c_str(), nullptr, SW_SHOWNORMAL);
}

CLumoDictGenDlg::FolderOpener g_folderOpener = &OpenFolderSelecting;

}  // namespace

void CLumoDictGenDlg::SetFolderOpenerForTesting(FolderOpener opener) {
  g_folderOpener = opener != nullptr ? opener : &OpenFolderSelecting;
}

void CLumoDictGenDlg::OnOpenFolder() {
  if (!m_lastPackage.empty()) g_folderOpener(m_lastPackage);
}

LRESULT CLumoDictGenDlg::OnPaint(WPARAM wParam, LPARAM lParam) {
  if (!::IsIconic(m_hWnd)) return ::DefWindowProcW(m_hWnd, WM_PAINT, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  ::SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  const int x = (client.right - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, m_hIcon);
  ::EndPaint(m_hWnd, &paint);
  return 0;
}

LRESULT CLumoDictGenDlg::OnQueryDragIcon(WPARAM, LPARAM) {
  return reinterpret_cast<LRESULT>(m_hIcon);
}

HBRUSH CLumoDictGenDlg::OnCtlColor(HDC dc, HWND control, UINT message) {
  HBRUSH brush = reinterpret_cast<HBRUSH>(::DefWindowProcW(
      m_hWnd, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
  if (::GetDlgCtrlID(control) == IDC_REQUIRED) ::SetTextColor(dc, RGB(255, 0, 0));
  return brush;
}

namespace {

bool IsExistingFile(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return !path.empty() && attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void CLumoDictGenDlg::OnInputChanged() {
  // A path typed or pasted counts as soon as it names a file, as a chosen one does; the
  // part-typed texts before it change nothing.
  if (IsRunning()) return;
  const std::wstring path = GetItemText(IDC_EDIT_INPUT);
  const bool file = IsExistingFile(path);
  ::EnableWindow(GetDlgItem(IDC_BUTTON_PREVIEW), file);
  if (file) ProposeFromInput(path, false);
}

void CLumoDictGenDlg::OnPreview() {
  if (IsRunning()) return;
  ConvertRequest request;
  request.wordList = GetItemText(IDC_EDIT_INPUT);
  if (!IsExistingFile(request.wordList)) return;
  request.format = InputFormatOf(request.wordList);
  CPreviewDlg preview(m_hWnd, request, m_encodingFor == request.wordList ? m_encoding : EncodingChoice(),
                      m_duplicates);
  preview.DoModal();
  // The choices hold however the window was closed.
  m_encoding = preview.Encoding();
  m_encodingFor = request.wordList;
  m_duplicates = preview.Duplicates();
}

void CLumoDictGenDlg::OnImport() {
  if (IsRunning()) return;  // the button is disabled; a click sent all the same is refused
  ui::FileChooserOptions options;
  options.defaultExtension = L"txt";
  options.fileName = L"*.txt";
  options.flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  options.filter = ui::LoadResourceText(IDS_FILTER_WORD_LIST);
  // The chooser opens where the last converted list was, until a list is chosen here.
  const std::wstring typed = GetItemText(IDC_EDIT_INPUT);
  options.initialFolder = IsExistingFile(typed) ? PathDirectory(typed) : m_rememberedFolder;
  const std::wstring path = ui::ChooseOpenFile(m_hWnd, options);
  if (!path.empty()) UseInputPath(path);
}

void CLumoDictGenDlg::UseInputPath(const std::wstring& path) {
  SetItemText(IDC_EDIT_INPUT, path);
  // A chosen file replaces the save path and name, whatever they hold.
  ProposeFromInput(path, true);
}

void CLumoDictGenDlg::ProposeFromInput(const std::wstring& path, bool replace) {
  // Another file is read as detected until its preview says otherwise.
  if (path != m_encodingFor) {
    m_encoding = EncodingChoice();
    m_encodingFor.clear();
  }
  const DerivedNames names = DeriveFromInputPath(path);
  const auto propose = [&](int id, const std::wstring& previous, const std::wstring& text) {
    const std::wstring shown = GetItemText(id);
    if (replace || shown.empty() || shown == previous) SetItemText(id, text);
  };
  DerivedNames proposed = names;
  // A dictionary brings its own name, and its author for an empty author box.
  InputDefaults defaults;
  if (ReadInputDefaults(InputFormatOf(path), path, &defaults).ok()) {
    if (!defaults.name.empty()) proposed.name = defaults.name;
    if (GetItemText(IDC_EDIT_AUTHOR).empty()) SetItemText(IDC_EDIT_AUTHOR, defaults.author);
  }
  propose(IDC_EDIT_SAVE, m_proposed.savePath, proposed.savePath);
  propose(IDC_EDIT_NAME, m_proposed.name, proposed.name);
  m_proposed = proposed;
  ::EnableWindow(GetDlgItem(IDOK), TRUE);
}

void CLumoDictGenDlg::LockPaths(bool locked) {
  // A button that is disabled with the focus takes it along, and the keyboard would reach
  // nothing; the run's own button, "取消", takes it first (Convert is disabled after this).
  // At the end Convert (enabled again before this) has it back, so that Enter does not
  // press "退出".
  const int focused = ::GetDlgCtrlID(::GetFocus());
  const auto focus = [this](int id) {
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(id)), TRUE);
  };
  if (locked && (focused == IDOK || focused == IDC_BUTTON_IMPORT || focused == IDC_BUTTON_PREVIEW ||
                 focused == IDC_BUTTON_SAVEAS))
    focus(IDCANCEL);
  if (!locked && focused == IDCANCEL) focus(IDOK);
  for (int id : {IDC_EDIT_INPUT, IDC_EDIT_SAVE})
    ::SendMessageW(GetDlgItem(id), EM_SETREADONLY, locked, 0);
  for (int id : {IDC_BUTTON_IMPORT, IDC_BUTTON_SAVEAS}) ::EnableWindow(GetDlgItem(id), !locked);
  ::EnableWindow(GetDlgItem(IDC_BUTTON_PREVIEW), !locked && IsExistingFile(GetItemText(IDC_EDIT_INPUT)));
  ::DragAcceptFiles(m_hWnd, !locked);
}

void CLumoDictGenDlg::FocusFieldAtFault(UserMessage message) {
  int id = IDC_EDIT_NAME;  // the name, and the facts that are too long
  switch (message) {
    case UserMessage::kBothPathsWrong:
    case UserMessage::kInputMissing:
      id = IDC_EDIT_INPUT;
      break;
    case UserMessage::kSavePathWrong:
    case UserMessage::kSaveIsInput:
    case UserMessage::kSaveNotRegularFile:
      id = IDC_EDIT_SAVE;
      break;
    default:
      break;
  }
  // As Tab would: the box gets the focus with its text selected, ready to be replaced.
  ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(id)), TRUE);
}

LRESULT CLumoDictGenDlg::OnDropFiles(WPARAM wParam, LPARAM) {
  HDROP drop = reinterpret_cast<HDROP>(wParam);
  // During a run the dialog takes no drops; one already under way is let go.
  if (!IsRunning() && ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
    const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    path.resize(::DragQueryFileW(drop, 0, path.data(), length + 1));
    // Only a file, as the chooser would accept it; a dropped folder is ignored.
    if (IsExistingFile(path)) UseInputPath(path);
  }
  ::DragFinish(drop);
  return 0;
}

void CLumoDictGenDlg::OnSaveAs() {
  if (IsRunning()) return;
  const std::wstring base(PathFileName(WithoutFileNameExtension(GetItemText(IDC_EDIT_SAVE))));
  ui::FileChooserOptions options;
  options.defaultExtension = L"ldic";
  options.fileName = base.empty() ? L"LumoDict.ldic" : base + L".ldic";
  options.flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  options.filter = ui::LoadResourceText(IDS_FILTER_PACKAGE);
  const std::wstring path = ui::ChooseSaveFile(m_hWnd, options);
  if (path.empty()) return;
  SetItemText(IDC_EDIT_SAVE, path);
  // The chooser asked before it offered a file that is there: Convert asks no more.
  m_confirmedSavePath = IsExistingFile(path) ? path : std::wstring();
}

void CLumoDictGenDlg::ShowOpenFolder(bool shown) {
  HWND button = GetDlgItem(IDC_BUTTON_OPEN_FOLDER);
  // The focus leaves a button before it hides, for Convert.
  if (!shown && ::GetFocus() == button)
    ::SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(IDOK)), TRUE);
  ::ShowWindow(button, shown ? SW_SHOW : SW_HIDE);
}

void CLumoDictGenDlg::Refuse(UserMessage message) {
  // Nothing of an earlier run, nor of this one, is left to be read as its outcome.
  SetItemText(IDC_STATUS, std::wstring());
  ShowOpenFolder(false);
  ui::ShowWarning(m_hWnd, message);
  FocusFieldAtFault(message);
}

void CLumoDictGenDlg::OnConvert() {
  ConvertRequest request;
  request.wordList = GetItemText(IDC_EDIT_INPUT);
  // LumoDict lists a package only by the extension ".ldic", as it is spelled there: the
  // save path gets it, and the box shows the path that is used.
  const std::wstring typedSave = GetItemText(IDC_EDIT_SAVE);
  request.package = WithExtension(typedSave, L"ldic");
  if (request.package != typedSave) SetItemText(IDC_EDIT_SAVE, request.package);
  request.format = InputFormatOf(request.wordList);

  // Testing the save folder makes it the current directory: the job created below puts
  // its temporary files there, next to the package. A folder that cannot be entered is
  // no folder for the checks.
  const std::wstring folder = PathDirectory(request.package);
  if (!folder.empty() && ::_wchdir(folder.c_str()) == 0) request.folder = folder;
  if (const std::optional<ConvertProblem> problem = CheckConvertPaths(request)) {
    Refuse(problem->message);
    return;
  }

  ::SendMessageW(m_hWnd, WM_CONVERT_PROGRESS, 5, 0);

  PackageFacts& facts = request.facts;
  facts.name = TrimName(GetItemText(IDC_EDIT_NAME));
  facts.author = GetItemText(IDC_EDIT_AUTHOR);
  facts.lumo = GetItemText(IDC_EDIT_NUMBER);
  facts.version = GetItemText(IDC_EDIT_VERSION);
  facts.date = GetItemText(IDC_DATE);
  if (facts.date.empty()) {
    // Should the picker not report its text, format its date as it shows it.
    SYSTEMTIME date{};
    ::SendMessageW(GetDlgItem(IDC_DATE), DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&date));
    wchar_t text[128] = {};
    if (::GetDateFormatW(LOCALE_USER_DEFAULT, DATE_LONGDATE, &date, nullptr, text, 128) > 0)
      facts.date = text;
  }

  if (const std::optional<ConvertProblem> problem = CheckConvertFacts(request)) {
    Refuse(problem->message);
    return;
  }
  // A file at the save path is replaced only when the user says so, here or in the chooser
  // that offered it (which asked already; its word holds for one run).
  const bool confirmed = !m_confirmedSavePath.empty() &&
                         ::CompareStringOrdinal(m_confirmedSavePath.c_str(), -1, request.package.c_str(), -1,
                                                TRUE) == CSTR_EQUAL;
  if (IsExistingFile(request.package) && !confirmed && !ui::AskYesNo(m_hWnd, UserMessage::kReplaceFile))
    return;
  m_confirmedSavePath.clear();
  m_rememberedFolder = PathDirectory(request.wordList);
  SaveRememberedFacts({facts.author, facts.lumo, facts.version, m_rememberedFolder});

  // The preview's choices: its encoding for the file it showed, as ldic's --encoding.
  std::optional<TextEncoding> encoding;
  if (m_encodingFor == request.wordList && m_encoding.encoding) {
    encoding = m_encoding.encoding;
    request.codePage = m_encoding.codePage;
  }
  request.duplicates = m_duplicates;

  ::ShowWindow(GetDlgItem(IDC_PROGRESS), SW_SHOW);
  m_metaBlock = BuildMetadataBlock(facts);
  m_metaLength = static_cast<int>(m_metaBlock.size());
  StartRun(request, encoding);
}
