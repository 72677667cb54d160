// The preview window.
//
// How it works. The file is read on a worker thread of the window's, never on its own
// thread: StartReading numbers the reading and starts the thread on a copy of the request,
// and the thread's one contact with the window is its last action, PostMessageW of
// WM_PREVIEW_DONE with the reading's number and a result it hands over. The window shows a
// result of the last reading only; one of a reading it replaced (the encoding changed) is
// freed unseen. A new reading, and the window's end, first stop the last one through its
// keep-running flag and wait for its thread, which closes the file before it ends: once
// the window is gone, nothing of it holds the file open.

#include "app/preview_dialog.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>

#include "app/resource.h"
#include "common/utf.h"
#include "platform/text_convert.h"

namespace {

constexpr UINT WM_PREVIEW_DONE = WM_APP + 1;  // posted: wParam = the reading's number, lParam = InputPreview*

struct ReadingTask {
  HWND window;
  WPARAM number;
  ConvertRequest request;
  std::optional<TextEncoding> encoding;
  const std::atomic<bool>* running;
};

DWORD WINAPI ReadingMain(LPVOID param) {
  const std::unique_ptr<ReadingTask> task(static_cast<ReadingTask*>(param));
  auto result = std::make_unique<InputPreview>();
  try {
    *result = PreviewInput(task->request, task->encoding, {}, task->running);
  } catch (const std::bad_alloc&) {
    *result = InputPreview();
    result->status = Status::Error(StatusKind::kTooBig, task->request.wordList, 0, "out of memory");
  }
  if (::PostMessageW(task->window, WM_PREVIEW_DONE, task->number, reinterpret_cast<LPARAM>(result.get())))
    result.release();
  return 0;
}

constexpr DuplicatePolicy kPolicies[] = {DuplicatePolicy::kKeep, DuplicatePolicy::kMerge, DuplicatePolicy::kFirst};
constexpr UINT kPolicyTexts[] = {IDS_DUPLICATES_KEEP, IDS_DUPLICATES_MERGE, IDS_DUPLICATES_FIRST};

// "UTF-8", "UTF-16 LE", "UTF-16 BE", or an ANSI code page by name and number: "GBK (936)";
// codePage 0 is the system's.
std::wstring EncodingName(TextEncoding encoding, unsigned codePage) {
  switch (encoding) {
    case TextEncoding::Utf8: return L"UTF-8";
    case TextEncoding::Utf16LE: return L"UTF-16 LE";
    case TextEncoding::Utf16BE: return L"UTF-16 BE";
    case TextEncoding::Ansi: break;
  }
  if (codePage == 0) codePage = platform::AnsiCodePage();
  return Utf8ToWideText(CodePageName(codePage)) + L" (" + std::to_wstring(codePage) + L")";
}

UserMessage ReasonText(ReportReason reason) {
  switch (reason) {
    case ReportReason::kNoSeparator: return UserMessage::kReasonNoSeparator;
    case ReportReason::kUnclosedQuote: return UserMessage::kReasonUnclosedQuote;
    case ReportReason::kEmptyHeadword: return UserMessage::kReasonEmptyHeadword;
    case ReportReason::kTooLong: return UserMessage::kReasonTooLong;
    case ReportReason::kBinaryOnly: return UserMessage::kReasonBinaryOnly;
    case ReportReason::kLinkLoop:
    case ReportReason::kLinkTargetMissing: return UserMessage::kReasonBrokenLink;
    default: return UserMessage::kReasonUnreadable;
  }
}

// A cell's text: on one line, and no longer than a list view shows.
std::wstring CellText(std::string_view utf8) {
  constexpr size_t kMost = 512;
  std::wstring text = Utf8ToWideText(utf8.substr(0, 4 * kMost));
  if (text.size() > kMost) text.resize(kMost);
  std::replace_if(text.begin(), text.end(), [](wchar_t c) { return c < 0x20; }, L' ');
  return text;
}

void SetCell(HWND list, int row, int column, const std::wstring& text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = const_cast<wchar_t*>(text.c_str());
  ::SendMessageW(list, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

// A row of the list; skipped marks a line the conversion leaves out.
void AddRow(HWND list, uint64_t line, const std::wstring& first, const std::wstring& second, bool skipped) {
  const std::wstring number = GroupedNumber(line);
  LVITEMW item{};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.iItem = static_cast<int>(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = const_cast<wchar_t*>(number.c_str());
  item.lParam = skipped ? 1 : 0;
  const int row = static_cast<int>(::SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
  SetCell(list, row, 1, first);
  SetCell(list, row, 2, second);
}

}  // namespace

CPreviewDlg::CPreviewDlg(HWND owner, const ConvertRequest& request, EncodingChoice encoding,
                         DuplicatePolicy duplicates)
    : CDialogBase(IDD_PREVIEW, owner), m_request(request), m_encoding(encoding), m_duplicates(duplicates) {}

CPreviewDlg::~CPreviewDlg() { StopReading(); }

ui::CDialogBase::MessageMap CPreviewDlg::GetMessageMap() const {
  using D = CPreviewDlg;
  static const MessageMapEntry kMap[] = {
      MapCommand<D>(CBN_SELCHANGE, IDC_PREVIEW_ENCODING, &D::OnEncodingChanged),
      MapCommand<D>(CBN_SELCHANGE, IDC_PREVIEW_DUPLICATES, &D::OnDuplicatesChanged),
      MapCommand<D>(BN_CLICKED, IDCANCEL, &D::OnClose),
      MapMessage<D>(WM_PREVIEW_DONE, &D::OnPreviewDone),
      MapMessage<D>(WM_SIZE, &D::OnSize),
      MapMessage<D>(WM_GETMINMAXINFO, &D::OnGetMinMaxInfo),
      MapMessage<D>(WM_NOTIFY, &D::OnNotify),
  };
  return {kMap, std::size(kMap)};
}

BOOL CPreviewDlg::OnInitDialog() {
  RECT window{};
  ::GetWindowRect(m_hWnd, &window);
  m_minimum = {window.right - window.left, window.bottom - window.top};

  HWND list = GetDlgItem(IDC_PREVIEW_LIST);
  ::SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
  const bool dictionary = IsDictionaryFormat(m_request.format);
  const UINT titles[] = {dictionary ? UINT{IDS_COLUMN_NUMBER} : UINT{IDS_COLUMN_LINE}, IDS_COLUMN_HEADWORD,
                         IDS_COLUMN_EXPLANATION};
  for (int i = 0; i < 3; ++i) {
    const std::wstring title = ui::LoadResourceText(titles[i]);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_FMT;
    column.fmt = i == 0 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.pszText = const_cast<wchar_t*>(title.c_str());
    ::SendMessageW(list, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }

  HWND duplicates = GetDlgItem(IDC_PREVIEW_DUPLICATES);
  for (const UINT text : kPolicyTexts)
    ::SendMessageW(duplicates, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ui::LoadResourceText(text).c_str()));
  const auto policy = std::find(std::begin(kPolicies), std::end(kPolicies), m_duplicates);
  ::SendMessageW(duplicates, CB_SETCURSEL, policy == std::end(kPolicies) ? 0 : policy - std::begin(kPolicies), 0);

  // A dictionary's text has its own encoding, which is not chosen.
  if (dictionary) m_encoding = EncodingChoice();
  FillEncodings();
  ::EnableWindow(GetDlgItem(IDC_PREVIEW_ENCODING), !dictionary);
  Layout();
  StartReading();
  return TRUE;
}

void CPreviewDlg::FillEncodings() {
  m_choices = {{},
               {TextEncoding::Utf8, 0},
               {TextEncoding::Ansi, 936},
               {TextEncoding::Ansi, 54936},
               {TextEncoding::Ansi, 950},
               {TextEncoding::Utf16LE, 0},
               {TextEncoding::Utf16BE, 0}};
  // The system's own code page, when it is none of those. A code page the system cannot
  // convert from is not offered (Wine has no GB18030).
  const unsigned system = platform::AnsiCodePage();
  if (system != 936 && system != 54936 && system != 950) m_choices.push_back({TextEncoding::Ansi, 0});
  std::erase_if(m_choices, [](const EncodingChoice& c) {
    return c.encoding == TextEncoding::Ansi && c.codePage != 0 && !platform::IsCodePageSupported(c.codePage);
  });
  if (IsDictionaryFormat(m_request.format)) m_choices.resize(1);

  HWND box = GetDlgItem(IDC_PREVIEW_ENCODING);
  ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
  for (const EncodingChoice& choice : m_choices) {
    std::wstring text;
    if (!choice.encoding)
      text = m_detected ? FormatUserMessage(ui::LoadResourceText(IDS_ENCODING_AUTO_DETECTED),
                                            EncodingName(*m_detected, m_request.codePage))
                        : ui::LoadResourceText(IDS_ENCODING_AUTO);
    else
      text = EncodingName(*choice.encoding, choice.codePage);
    ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  const auto chosen = std::find(m_choices.begin(), m_choices.end(), m_encoding);
  ::SendMessageW(box, CB_SETCURSEL, chosen == m_choices.end() ? 0 : chosen - m_choices.begin(), 0);
}

void CPreviewDlg::OnEncodingChanged() {
  const LRESULT at = ::SendMessageW(GetDlgItem(IDC_PREVIEW_ENCODING), CB_GETCURSEL, 0, 0);
  if (at < 0 || static_cast<size_t>(at) >= m_choices.size() || m_choices[at] == m_encoding) return;
  m_encoding = m_choices[at];
  StartReading();
}

void CPreviewDlg::OnDuplicatesChanged() {
  const LRESULT at = ::SendMessageW(GetDlgItem(IDC_PREVIEW_DUPLICATES), CB_GETCURSEL, 0, 0);
  if (at >= 0 && static_cast<size_t>(at) < std::size(kPolicies)) m_duplicates = kPolicies[at];
}

void CPreviewDlg::OnClose() { EndDialog(IDCANCEL); }

void CPreviewDlg::OnDestroy() { StopReading(); }

void CPreviewDlg::StartReading() {
  StopReading();
  ::SendMessageW(GetDlgItem(IDC_PREVIEW_LIST), LVM_DELETEALLITEMS, 0, 0);
  SetItemText(IDC_PREVIEW_FACTS, ui::LoadText(UserMessage::kPreviewReading));
  SetItemText(IDC_PREVIEW_SHOWN, std::wstring());
  m_running = true;
  auto task =
      std::make_unique<ReadingTask>(ReadingTask{m_hWnd, ++m_reading, m_request, m_encoding.encoding, &m_running});
  if (m_encoding.encoding) task->request.codePage = m_encoding.codePage;
  m_thread = ::CreateThread(nullptr, 0, &ReadingMain, task.get(), 0, nullptr);
  if (m_thread != nullptr)
    task.release();
  else
    SetItemText(IDC_PREVIEW_FACTS, ui::LoadText(UserMessage::kInputOpenFailed));
}

void CPreviewDlg::StopReading() {
  if (m_thread == nullptr) return;
  m_running = false;
  ui::WaitForThread(m_thread, INFINITE);
  ::CloseHandle(m_thread);
  m_thread = nullptr;
  if (m_hWnd == nullptr) return;
  MSG msg;
  while (::PeekMessageW(&msg, m_hWnd, WM_PREVIEW_DONE, WM_PREVIEW_DONE, PM_REMOVE))
    delete reinterpret_cast<InputPreview*>(msg.lParam);
}

LRESULT CPreviewDlg::OnPreviewDone(WPARAM wParam, LPARAM lParam) {
  const std::unique_ptr<InputPreview> result(reinterpret_cast<InputPreview*>(lParam));
  if (wParam != m_reading || m_thread == nullptr) return 0;
  // Posting was the thread's last action.
  ::WaitForSingleObject(m_thread, INFINITE);
  ::CloseHandle(m_thread);
  m_thread = nullptr;
  Show(*result);
  return 0;
}

void CPreviewDlg::Show(const InputPreview& preview) {
  HWND list = GetDlgItem(IDC_PREVIEW_LIST);
  ::SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  if (!preview.status) {
    SetItemText(IDC_PREVIEW_FACTS, ui::LoadText(MessageFor(preview.status)));
    return;
  }
  const bool dictionary = IsDictionaryFormat(m_request.format);
  if (!dictionary && m_detected != preview.detected) {
    m_detected = preview.detected;
    FillEncodings();
  }

  std::wstring facts;
  if (dictionary) {
    facts = FormatUserMessage(ui::LoadText(UserMessage::kPreviewDictionary), preview.name,
                              GroupedNumber(preview.declaredEntries));
  } else {
    const unsigned codePage = m_encoding.encoding ? m_encoding.codePage : m_request.codePage;
    facts = FormatUserMessage(ui::LoadText(UserMessage::kReportEncoding), EncodingName(preview.encoding, codePage));
    // Only the kinds the list has.
    const auto counts = [](std::initializer_list<std::pair<std::wstring, uint64_t>> items) {
      std::wstring text;
      for (const auto& [name, count] : items)
        if (count != 0)
          text += (text.empty() ? L"" : L"\u3001") +
                  FormatUserMessage(ui::LoadText(UserMessage::kPreviewCount), name, GroupedNumber(count));
      return text;
    };
    const LineShapes& s = preview.shapes;
    if (const std::wstring ends = counts({{L"CRLF", s.crLf}, {L"LF", s.lf}, {L"CR", s.cr}}); !ends.empty())
      facts += L"\u3000" + FormatUserMessage(ui::LoadText(UserMessage::kPreviewLineEnds), ends);
    if (const std::wstring separators = counts({{ui::LoadText(UserMessage::kPreviewTab), s.tabs},
                                                {ui::LoadText(UserMessage::kPreviewComma), s.commas}});
        !separators.empty())
      facts += L"\u3000" + FormatUserMessage(ui::LoadText(UserMessage::kPreviewSeparators), separators);
  }
  SetItemText(IDC_PREVIEW_FACTS, facts);
  std::wstring shown = FormatUserMessage(
      ui::LoadText(dictionary ? UserMessage::kPreviewReadEntries : UserMessage::kPreviewReadLines),
      GroupedNumber(preview.lines), GroupedNumber(preview.entries.size()));
  if (preview.more) shown += ui::LoadText(UserMessage::kPreviewMore);
  SetItemText(IDC_PREVIEW_SHOWN, shown);

  // Entries and skipped lines, in the order of their lines.
  ::SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  const std::wstring skippedFormat = ui::LoadText(UserMessage::kPreviewSkipped);
  auto entry = preview.entries.begin();
  auto skipped = preview.skipped.begin();
  while (entry != preview.entries.end() || skipped != preview.skipped.end()) {
    if (skipped != preview.skipped.end() && (entry == preview.entries.end() || skipped->line < entry->line)) {
      AddRow(list, skipped->line, FormatUserMessage(skippedFormat, ui::LoadText(ReasonText(skipped->reason))),
             CellText(skipped->text), true);
      ++skipped;
    } else {
      AddRow(list, entry->line, CellText(entry->word), CellText(entry->explanation), false);
      ++entry;
    }
  }
  ::SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(list, nullptr, TRUE);
}

LRESULT CPreviewDlg::OnNotify(WPARAM, LPARAM lParam) {
  // Skipped lines are drawn in red.
  const auto* header = reinterpret_cast<const NMHDR*>(lParam);
  if (header->idFrom != IDC_PREVIEW_LIST || header->code != NM_CUSTOMDRAW) return 0;
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
  if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
  if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT && draw->nmcd.lItemlParam == 1) draw->clrText = RGB(192, 0, 0);
  return CDRF_DODEFAULT;
}

LRESULT CPreviewDlg::OnSize(WPARAM, LPARAM) {
  Layout();
  return 0;
}

LRESULT CPreviewDlg::OnGetMinMaxInfo(WPARAM, LPARAM lParam) {
  // Never smaller than the template.
  auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
  if (m_minimum.cx > 0) info->ptMinTrackSize = {m_minimum.cx, m_minimum.cy};
  return 0;
}

void CPreviewDlg::Layout() {
  if (m_hWnd == nullptr || GetDlgItem(IDC_PREVIEW_LIST) == nullptr) return;
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  // The template's measures in this window's pixels: the margin, the list's top, the
  // button's size and the first column's width.
  RECT units{7, 51, 50, 14};
  ::MapDialogRect(m_hWnd, &units);
  RECT more{7, 7, 34, 0};
  ::MapDialogRect(m_hWnd, &more);
  const int margin = units.left, top = units.top, buttonWidth = units.right, buttonHeight = units.bottom;
  const int width = std::max(0L, client.right - 2 * margin);
  const auto widen = [&](int id) {
    RECT r{};
    ::GetWindowRect(GetDlgItem(id), &r);
    ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    ::MoveWindow(GetDlgItem(id), r.left, r.top, width, r.bottom - r.top, TRUE);
  };
  widen(IDC_PREVIEW_FACTS);
  widen(IDC_PREVIEW_SHOWN);
  const int buttonTop = client.bottom - more.top - buttonHeight;
  ::MoveWindow(GetDlgItem(IDCANCEL), client.right - margin - buttonWidth, buttonTop, buttonWidth, buttonHeight, TRUE);
  HWND list = GetDlgItem(IDC_PREVIEW_LIST);
  ::MoveWindow(list, margin, top, width, std::max(0L, buttonTop - more.top - top), TRUE);

  // The number column fits its numbers; the headwords get a third of the rest, the
  // explanations what is left beside the scroll bar.
  RECT inner{};
  ::GetClientRect(list, &inner);
  const int rest = std::max(0L, inner.right - more.right);
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, more.right);
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, rest / 3);
  ::SendMessageW(list, LVM_SETCOLUMNWIDTH, 2, rest - rest / 3);
}
