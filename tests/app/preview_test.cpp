// The preview window driven as a user drives it: opened on a GBK list, read again in
// another encoding and back, its texts whole, closed by Esc; its choices making the
// package ldic convert makes with the same options, and reset by another file.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "app/framework.h"
#include "app/resource.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "tests/app/dialog_harness.h"

using app_test::DialogHarness;
using app_test::WaitUntil;

namespace {

// "apple 苹果", "dup 一", "dup 二", a line without a separator, "banana 香蕉", in GBK.
constexpr char kGbkList[] =
    "apple\t\xc6\xbb\xb9\xfb\r\ndup\t\xd2\xbb\r\ndup\t\xb6\xfe\r\nno separator\r\nbanana\t\xcf\xe3\xbd\xb6\r\n";

std::wstring Cell(HWND list, int row, int column) {
  wchar_t text[600] = {};
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = text;
  item.cchTextMax = 600;
  ::SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
  return text;
}

// Picks item index of a drop-down as a user's click does, which the window is told of.
void Choose(HWND window, int id, int index) {
  HWND box = ::GetDlgItem(window, id);
  ::SendMessageW(box, CB_SETCURSEL, index, 0);
  ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}

std::wstring Item(HWND box, int index) {
  std::wstring text(static_cast<size_t>(::SendMessageW(box, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
  text.resize(static_cast<size_t>(::SendMessageW(box, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

// Opens the preview of the chosen file and waits for its first reading.
HWND OpenPreview(DialogHarness& h) {
  ::PostMessageW(h.Item(IDC_BUTTON_PREVIEW), BM_CLICK, 0, 0);
  HWND preview = app_test::WaitForOwnedDialog(h.Dialog(), L"预览", 10000);
  if (preview != nullptr)
    WaitUntil([&] { return ::SendMessageW(::GetDlgItem(preview, IDC_PREVIEW_LIST), LVM_GETITEMCOUNT, 0, 0) > 0; },
              10000);
  return preview;
}

// Waits for the list's first explanation to hold text.
bool WaitForFirstExplanation(HWND preview, const std::wstring& text) {
  return WaitUntil([&] { return Cell(::GetDlgItem(preview, IDC_PREVIEW_LIST), 0, 2).find(text) != std::wstring::npos; },
                   10000);
}

}  // namespace

TEST(DialogPreview, ChosenEncodingAndRepeatsGoIntoTheConversion) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  EXPECT_FALSE(h.Enabled(IDC_BUTTON_PREVIEW));
  const std::wstring list = h.Temp().File(L"fruit.txt");
  lumo_test::WriteBytes(list, kGbkList);
  h.Drop({list});
  ASSERT_TRUE(h.Enabled(IDC_BUTTON_PREVIEW));

  HWND preview = OpenPreview(h);
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(::GetWindow(preview, GW_OWNER), h.Dialog());
  EXPECT_TRUE(::GetWindowLongW(preview, GWL_STYLE) & WS_THICKFRAME);
  HWND rows = ::GetDlgItem(preview, IDC_PREVIEW_LIST);
  HWND encodings = ::GetDlgItem(preview, IDC_PREVIEW_ENCODING);
  // Read as UTF-8 the GBK bytes are no characters; read as GBK they are.
  Choose(preview, IDC_PREVIEW_ENCODING, 1);
  ASSERT_TRUE(WaitForFirstExplanation(preview, L"\uFFFD"));
  Choose(preview, IDC_PREVIEW_ENCODING, 2);
  ASSERT_TRUE(WaitForFirstExplanation(preview, L"苹果"));
  EXPECT_EQ(ui::GetText(encodings), L"GBK (936)");
  // Where GBK is the system's, detection finds it.
  if (::GetACP() == 936) {
    Choose(preview, IDC_PREVIEW_ENCODING, 0);
    ASSERT_TRUE(WaitUntil([&] { return ui::GetText(encodings) == L"自动（GBK (936)）"; }, 10000));
    ASSERT_TRUE(WaitForFirstExplanation(preview, L"苹果"));
    Choose(preview, IDC_PREVIEW_ENCODING, 2);  // the list is emptied until it is read again
    ASSERT_TRUE(WaitForFirstExplanation(preview, L"苹果"));
  }
  // Lines in order, the skipped one marked with its reason; the facts of the list above.
  ASSERT_EQ(::SendMessageW(rows, LVM_GETITEMCOUNT, 0, 0), 5);
  EXPECT_EQ(Cell(rows, 3, 0), L"4");
  EXPECT_EQ(Cell(rows, 3, 1), L"跳过：没有制表符或逗号");
  EXPECT_EQ(Cell(rows, 3, 2), L"no separator");
  EXPECT_EQ(Cell(rows, 4, 1), L"banana");
  EXPECT_EQ(ui::GetText(::GetDlgItem(preview, IDC_PREVIEW_FACTS)),
            L"编码：GBK (936)\u3000行尾：CRLF 5 行\u3000分隔符：制表符 4 行");
  EXPECT_EQ(ui::GetText(::GetDlgItem(preview, IDC_PREVIEW_SHOWN)), L"已读取 5 行，其中 4 条词条");

  // Every item of both drop-downs, and the labels, shown whole.
  for (const int id : {IDC_PREVIEW_ENCODING, IDC_PREVIEW_DUPLICATES}) {
    HWND box = ::GetDlgItem(preview, id);
    RECT client{};
    ::GetClientRect(box, &client);
    HDC dc = ::GetDC(box);
    const HGDIOBJ old = ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(box, WM_GETFONT, 0, 0)));
    for (int i = 0; i < ::SendMessageW(box, CB_GETCOUNT, 0, 0); ++i) {
      const std::wstring text = Item(box, i);
      SIZE size{};
      ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
      EXPECT_LE(size.cx + ::GetSystemMetrics(SM_CXVSCROLL) + 4, client.right) << i;
    }
    ::SelectObject(dc, old);
    ::ReleaseDC(box, dc);
  }
  Choose(preview, IDC_PREVIEW_DUPLICATES, 1);  // 合并为一条

  // Esc closes it; the choices stay with the dialog for Convert.
  ::PostMessageW(rows, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(preview); }, 5000));
  h.Click(IDOK);
  const app_test::BoxSeen report = app_test::AnswerBox(20000);
  EXPECT_NE(report.text.find(L"有 1 个重复词条已合并（第 3 行）"), std::wstring::npos)
      << WideToUtf8(report.text);
  EXPECT_NE(report.text.find(L"编码：GBK（代码页936）"), std::wstring::npos);
  ConvertRequest request;
  request.wordList = list;
  request.codePage = 936;
  request.duplicates = DuplicatePolicy::kMerge;
  request.facts = {L"fruit", L"", L"", L"", h.Text(IDC_DATE)};
  EXPECT_EQ(lumo_test::ReadBytes(h.Temp().File(L"fruit.ldic")),
            app_test::ServicePackage(h, request, TextEncoding::Ansi));

  // Another file is read as detected again; the repeats' choice stays.
  const std::wstring other = h.Temp().File(L"other.txt");
  lumo_test::WriteBytes(other, kGbkList);
  h.Drop({other});
  preview = OpenPreview(h);
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(::SendMessageW(::GetDlgItem(preview, IDC_PREVIEW_ENCODING), CB_GETCURSEL, 0, 0), 0);
  EXPECT_EQ(::SendMessageW(::GetDlgItem(preview, IDC_PREVIEW_DUPLICATES), CB_GETCURSEL, 0, 0), 1);
  ::PostMessageW(preview, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(preview); }, 5000));
  h.Click(IDCANCEL);
  EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
}
