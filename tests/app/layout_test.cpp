// The dialog as it reads on screen: every text shown whole in its control, and the
// keyboard's Tab order following the layout. Registered twice, so that both the plain
// and the Chinese locale (long dates, fonts) are measured.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/framework.h"
#include "app/resource.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "tests/app/dialog_harness.h"

using app_test::DialogHarness;

namespace {

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

bool IsClass(HWND window, const wchar_t* cls) {
  return ::CompareStringOrdinal(ClassOf(window).c_str(), -1, cls, -1, TRUE) == CSTR_EQUAL;
}

// How wide text is drawn in the control's own font, and how much of the control's width
// is left for text once its frame, check mark or margins are drawn. Pixels.
struct TextFit {
  int text = 0;
  int room = 0;
};

TextFit Measure(HWND control, const std::wstring& text) {
  HDC dc = ::GetDC(control);
  const HGDIOBJ old =
      ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0)));
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::ReleaseDC(control, dc);

  RECT client{};
  ::GetClientRect(control, &client);
  TextFit fit{size.cx, client.right};
  const LONG style = ::GetWindowLongW(control, GWL_STYLE);
  if (IsClass(control, L"Button")) {
    switch (style & BS_TYPEMASK) {
      case BS_CHECKBOX:
      case BS_AUTOCHECKBOX:
        // The box, then half a character of space before the text.
        fit.room -= ::GetSystemMetrics(SM_CXMENUCHECK) + metrics.tmAveCharWidth / 2;
        break;
      case BS_GROUPBOX:
        // The caption sits a character in from each side of the frame.
        fit.room -= 2 * metrics.tmAveCharWidth;
        break;
      default:  // push buttons: the raised frame on both sides
        fit.room -= 2 * (::GetSystemMetrics(SM_CXEDGE) + ::GetSystemMetrics(SM_CXBORDER));
        break;
    }
  } else if (IsClass(control, L"Edit")) {
    const LRESULT margins = ::SendMessageW(control, EM_GETMARGINS, 0, 0);
    fit.room -= LOWORD(margins) + HIWORD(margins);
  }
  return fit;
}

}  // namespace

TEST(DialogLayout, EveryTextIsShownWhole) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const auto expectFits = [](HWND control, const std::wstring& text) {
    const TextFit fit = Measure(control, text);
    EXPECT_LE(fit.text, fit.room) << "control " << ::GetDlgCtrlID(control) << ": "
                                  << WideToUtf8(text) << " needs " << fit.text << " pixels";
  };

  // Labels, frames, buttons and the check box with their template texts.
  const app_test::DialogTemplate layout = app_test::LoadDialogTemplate(IDD_LUMODICTGEN_DIALOG);
  ASSERT_FALSE(layout.controls.empty());
  int measured = 0;
  for (const app_test::TemplateControl& c : layout.controls) {
    if (c.text.empty()) continue;
    expectFits(h.Item(c.id), c.text);
    ++measured;
  }
  EXPECT_GE(measured, 14);
  expectFits(h.Item(IDCANCEL), ui::LoadResourceText(IDS_BUTTON_CANCEL));

  // Every text of the status line, and the prompt in the empty input box.
  for (UserMessage status : {UserMessage::kNoSettingsFile, UserMessage::kConverting,
                             UserMessage::kConvertDone, UserMessage::kConvertCancelled,
                             UserMessage::kConvertFailedStatus})
    expectFits(h.Item(IDC_STATUS), UserMessageText(status));
  // The end of a run that made a large package, with its count.
  expectFits(h.Item(IDC_STATUS), std::wstring(UserMessageText(UserMessage::kConvertDone)) +
                                     FormatUserMessage(UserMessageText(UserMessage::kEntryCount), L"12,345,678"));
  expectFits(h.Item(IDC_EDIT_INPUT), UserMessageText(UserMessage::kInputPrompt));

  // The date picker sizes its own fields; every day of a year, the long weekday and month
  // names included, must need no more than the picker has.
  HWND picker = h.Item(IDC_DATE);
  RECT window{};
  ::GetWindowRect(picker, &window);
  SYSTEMTIME day{};
  ::SendMessageW(picker, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&day));
  FILETIME time{};
  day.wMonth = 1;
  day.wDay = 1;
  ::SystemTimeToFileTime(&day, &time);
  int widest = 0;
  for (int i = 0; i < 366; ++i) {
    SYSTEMTIME date{};
    ::FileTimeToSystemTime(&time, &date);
    ::SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&date));
    SIZE ideal{};
    ::SendMessageW(picker, DTM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal));
    if (ideal.cx > widest) widest = ideal.cx;
    EXPECT_LE(ideal.cx, window.right - window.left)
        << WideToUtf8(h.Text(IDC_DATE)) << " needs " << ideal.cx << " pixels";
    ULARGE_INTEGER next{{time.dwLowDateTime, time.dwHighDateTime}};
    next.QuadPart += 24ull * 3600 * 10000000;
    time = {next.LowPart, next.HighPart};
  }
  EXPECT_GT(widest, 0);
}
