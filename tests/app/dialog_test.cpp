// The dialog as the user meets it: its resources, layout and Tab order, the initial state,
// the input box's prompt and typed paths, colours, Ctrl+A, the choosers, dropped files and
// every validation message with the focus it leaves.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <array>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

#include "app/framework.h"
#include "app/main_dialog.h"
#include "app/resource.h"
#include "common/user_messages.h"
#include "tests/app/dialog_harness.h"

using app_test::BoxSeen;
using app_test::DialogHarness;
using app_test::WaitUntil;
using lumo_test::FileExists;
using lumo_test::WriteBytes;

namespace {

const wchar_t* Msg(UserMessage id) { return UserMessageText(id); }

// Left, top, right, bottom.
std::array<LONG, 4> Corners(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

// A template's left, top, width and height in the dialog's client pixels. Position and
// size are converted each on its own, as the dialog manager does.
std::array<LONG, 4> InPixels(HWND dialog, RECT units) {
  ::MapDialogRect(dialog, &units);
  return {units.left, units.top, units.left + units.right, units.top + units.bottom};
}

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

}  // namespace

TEST(AppResources, StringTableHoldsEveryUserMessage) {
  for (int id = static_cast<int>(UserMessage::kCaption); id <= static_cast<int>(kLastUserMessage);
       ++id) {
    const auto message = static_cast<UserMessage>(id);
    if (*UserMessageText(message) == L'\0') continue;  // no message has this id
    const wchar_t* resource = nullptr;
    const int length = ::LoadStringW(::GetModuleHandleW(nullptr), static_cast<UINT>(id),
                                     reinterpret_cast<LPWSTR>(&resource), 0);
    ASSERT_GT(length, 0) << "string " << id << " missing";
    EXPECT_EQ(std::wstring(resource, length), UserMessageText(message)) << "string " << id;
  }
}

TEST(DeriveFromInputPath, SavePathAndNameFollowTheFileNamesOwnExtension) {
  struct Case {
    const wchar_t* input;
    const wchar_t* save;
    const wchar_t* name;
  };
  const Case cases[] = {
      {L"D:\\words\\english.txt", L"D:\\words\\english.ldic", L"english"},
      {L"C:\\data.old\\list", L"C:\\data.old\\list.ldic", L"list"},  // a "." in a folder is none
      {L"C:\\data\\zhang.san\\wordlist", L"C:\\data\\zhang.san\\wordlist.ldic", L"wordlist"},
      {L"C:\\words\\list", L"C:\\words\\list.ldic", L"list"},          // no "." at all
      {L"C:\\words\\.txt", L"C:\\words\\.txt.ldic", L".txt"},          // a leading "." is none
      {L"C:\\words\\a.b.txt", L"C:\\words\\a.b.ldic", L"a.b"},
      {L"C:/words/list.csv", L"C:/words/list.ldic", L"list"},
      {L"list.a.csv", L"list.a.ldic", L"list.a"},                   // no folder
  };
  for (const Case& c : cases) {
    const DerivedNames names = DeriveFromInputPath(c.input);
    EXPECT_EQ(names.savePath, c.save) << c.input;
    EXPECT_EQ(names.name, c.name) << c.input;
  }
}

TEST(DialogTemplate, LiveControlsAreTheBuiltTemplatesAndKeepTheirPlaces) {
  DialogHarness h(true);
  ASSERT_NE(h.Dialog(), nullptr);
  const app_test::DialogTemplate layout = app_test::LoadDialogTemplate(IDD_LUMODICTGEN_DIALOG);
  ASSERT_FALSE(layout.controls.empty());
  RECT client;
  ::GetClientRect(h.Dialog(), &client);
  EXPECT_EQ(Corners(client), InPixels(h.Dialog(), {0, 0, layout.units.right, layout.units.bottom}));

  // The dialog fills these in at start; DialogStart checks what they show.
  const std::set<int> filledAtStart = {IDC_EDIT_INPUT, IDC_DATE, IDC_STATUS};
  std::set<int> templateIds = {IDW_STATUS_BAR};
  for (const app_test::TemplateControl& c : layout.controls) {
    SCOPED_TRACE(c.id);
    templateIds.insert(c.id);
    HWND item = h.Item(c.id);
    ASSERT_NE(item, nullptr);
    wchar_t cls[64] = {};
    ::GetClassNameW(item, cls, 64);
    // The resource compiler writes class names in capitals; Windows ignores their case.
    EXPECT_EQ(::CompareStringOrdinal(cls, -1, c.cls.c_str(), -1, TRUE), CSTR_EQUAL) << cls;
    if (filledAtStart.count(c.id) == 0) {
      EXPECT_EQ(h.Text(c.id), c.text);
    }
    RECT actual;
    ::GetWindowRect(item, &actual);
    ::MapWindowPoints(nullptr, h.Dialog(), reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(Corners(actual), InPixels(h.Dialog(), c.units));
  }
  EXPECT_EQ(ui::GetText(h.Dialog()), L"Lumo词典格式转换助手");
  const LONG style = ::GetWindowLongW(h.Dialog(), GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_EQ(::GetWindowLongW(h.Item(IDC_DATE), GWL_STYLE) & (DTS_LONGDATEFORMAT | DTS_RIGHTALIGN),
            DTS_LONGDATEFORMAT | DTS_RIGHTALIGN);
  EXPECT_TRUE(::GetWindowLongW(h.Item(IDC_PROGRESS), GWL_STYLE) & PBS_SMOOTH);
  EXPECT_NE(::SendMessageW(h.Item(IDOK), WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON, 0);

  std::set<int> liveIds;
  for (HWND child = ::GetWindow(h.Dialog(), GW_CHILD); child;
       child = ::GetWindow(child, GW_HWNDNEXT))
    liveIds.insert(::GetDlgCtrlID(child));
  EXPECT_EQ(liveIds, templateIds);  // the template's controls and the status bar, no more

  // The empty bar along the bottom, 20 pixels high at 96 dots per inch.
  HWND bar = ::GetDlgItem(h.Dialog(), IDW_STATUS_BAR);
  ASSERT_NE(bar, nullptr);
  RECT barRect;
  ::GetWindowRect(bar, &barRect);
  ::MapWindowPoints(nullptr, h.Dialog(), reinterpret_cast<POINT*>(&barRect), 2);
  const int height = ::MulDiv(20, static_cast<int>(::GetDpiForWindow(h.Dialog())), 96);
  EXPECT_EQ(barRect.top, client.bottom - height);
  EXPECT_EQ(barRect.right - barRect.left, client.right);

  // Tab, as the dialog manager moves it, walks the screen from top to bottom and left to
  // right (Convert enabled by a chosen list), then comes round to the start. Shift+Tab
  // walks back.
  const std::wstring list = h.Temp().File(L"w.txt");
  WriteBytes(list, "a\tb\n");
  h.Drop({list});
  const std::vector<int> screenOrder = {
      IDC_EDIT_INPUT,  IDC_BUTTON_IMPORT, IDC_BUTTON_PREVIEW, IDC_EDIT_NAME,     IDC_EDIT_AUTHOR,
      IDC_EDIT_VERSION, IDC_EDIT_NUMBER, IDC_DATE,           IDC_EDIT_SAVE,     IDC_BUTTON_SAVEAS,
      IDC_CHECK_REGISTER, IDOK,          IDCANCEL,           IDC_EDIT_INPUT};
  for (const bool backwards : {false, true}) {
    std::vector<int> walked;
    for (HWND at = h.Item(IDC_EDIT_INPUT); walked.size() < screenOrder.size();
         at = ::GetNextDlgTabItem(h.Dialog(), at, backwards))
      walked.push_back(::GetDlgCtrlID(at));
    EXPECT_EQ(walked, backwards ? std::vector<int>(screenOrder.rbegin(), screenOrder.rend())
                                : screenOrder);
  }
}

TEST(DialogStart, RegistrationBoxFollowsTheSettingsFile) {
  for (bool withSettings : {false, true}) {
    SCOPED_TRACE(withSettings ? "settings file present" : "no settings file");
    DialogHarness h(withSettings);
    ASSERT_NE(h.Dialog(), nullptr);
    EXPECT_EQ(h.Enabled(IDC_CHECK_REGISTER), withSettings);
    EXPECT_EQ(::SendMessageW(h.Item(IDC_CHECK_REGISTER), BM_GETCHECK, 0, 0),
              withSettings ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(h.Text(IDC_STATUS), withSettings ? L"" : Msg(UserMessage::kNoSettingsFile));
    EXPECT_EQ(h.Text(IDC_EDIT_INPUT), L"");
    EXPECT_FALSE(h.Enabled(IDOK));
    EXPECT_FALSE(h.Visible(IDC_PROGRESS));
    EXPECT_EQ(h.Text(IDCANCEL), L"退出");
    EXPECT_EQ(h.Text(IDC_EDIT_SAVE), L"");
    // Start-up never creates LumoDict's settings.
    EXPECT_EQ(FileExists(h.SettingsPath()), withSettings);

    h.Click(IDCANCEL);  // Exit with no run closes the program
    EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
  }
}

// The prompt is the input box's cue, not its text; a path typed or pasted into the box is
// used as a chosen one once it names a file.
TEST(DialogInput, PromptIsACueAndATypedPathIsUsedOnceItNamesAFile) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  HWND input = h.Item(IDC_EDIT_INPUT);
  wchar_t cue[128] = {};
  ASSERT_TRUE(::SendMessageW(input, EM_GETCUEBANNER, reinterpret_cast<WPARAM>(cue), 128));
  EXPECT_EQ(std::wstring(cue), Msg(UserMessage::kInputPrompt));

  const std::wstring words = h.Temp().File(L"words.txt");
  const std::wstring fruit = h.Temp().File(L"fruit.csv");
  WriteBytes(words, "a\tb\n");
  WriteBytes(fruit, "a,b\n");
  const std::wstring other = h.Temp().File(L"other.ldic");
  struct Step {
    const char* what;
    const wchar_t* name;  // typed into the name box first, unless null
    const wchar_t* save;  // typed into the save box first, unless null
    std::wstring input;
    bool paste;
    std::wstring expectSave;
    std::wstring expectName;
    bool convert;
  };
  const Step steps[] = {
      {"no such file", nullptr, nullptr, h.Temp().File(L"none.txt"), false, L"", L"", false},
      {"a folder", nullptr, nullptr, h.Temp().Path(), false, L"", L"", false},
      {"a word list", nullptr, nullptr, words, false, h.Temp().File(L"words.ldic"), L"words", true},
      {"another, pasted", nullptr, nullptr, fruit, true, h.Temp().File(L"fruit.ldic"), L"fruit",
       true},
      {"the user's name stays", L"Mine", nullptr, words, false, h.Temp().File(L"words.ldic"),
       L"Mine", true},
      {"the user's save path stays", nullptr, other.c_str(), fruit, true, other, L"Mine", true},
      {"an emptied box", nullptr, nullptr, L"", false, other, L"Mine", true},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.name != nullptr) h.Type(IDC_EDIT_NAME, step.name);
    if (step.save != nullptr) h.Type(IDC_EDIT_SAVE, step.save);
    if (step.paste) {
      ::SendMessageW(input, EM_SETSEL, 0, -1);
      ASSERT_TRUE(::OpenClipboard(nullptr));
      ::EmptyClipboard();
      HGLOBAL text = ::GlobalAlloc(GMEM_MOVEABLE, (step.input.size() + 1) * sizeof(wchar_t));
      std::wcscpy(static_cast<wchar_t*>(::GlobalLock(text)), step.input.c_str());
      ::GlobalUnlock(text);
      ::SetClipboardData(CF_UNICODETEXT, text);
      ::CloseClipboard();
      ::SendMessageW(input, WM_PASTE, 0, 0);
    } else {
      h.Type(IDC_EDIT_INPUT, step.input);
    }
    EXPECT_EQ(h.Text(IDC_EDIT_INPUT), step.input);  // exactly what was typed, no prompt
    EXPECT_EQ(h.Text(IDC_EDIT_SAVE), step.expectSave);
    EXPECT_EQ(h.Text(IDC_EDIT_NAME), step.expectName);
    EXPECT_EQ(h.Enabled(IDOK), step.convert);
    EXPECT_EQ(h.Enabled(IDC_BUTTON_PREVIEW), step.input == words || step.input == fruit);
  }

  // The required mark is red; other labels keep the system colour.
  HDC dc = ::CreateCompatibleDC(nullptr);
  for (const int id : {IDC_REQUIRED, IDC_LABEL_NAME}) {
    ::SetTextColor(dc, RGB(1, 2, 3));
    ::SendMessageW(h.Dialog(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(h.Item(id)));
    EXPECT_EQ(::GetTextColor(dc) == RGB(255, 0, 0), id == IDC_REQUIRED) << id;
  }
  ::DeleteDC(dc);
}

namespace {

// The selection messages an edit box receives while it handles a key; the edit control
// may also select all on its own, so the test looks for the dialog's own requests.
std::vector<UINT> g_selectionMessages;
WNDPROC g_editProc = nullptr;

LRESULT CALLBACK SelectionRecorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if ((message == EM_SETSEL && wParam == 0 && static_cast<int>(lParam) == -1) ||
      message == EM_SCROLLCARET)
    g_selectionMessages.push_back(message);
  return ::CallWindowProcW(g_editProc, window, message, wParam, lParam);
}

std::vector<UINT> SelectionRequests(DialogHarness& h, int id, bool ctrl) {
  g_selectionMessages.clear();
  g_editProc = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
      h.Item(id), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SelectionRecorder)));
  h.PressKey(id, 'A', ctrl);
  ::SetWindowLongPtrW(h.Item(id), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_editProc));
  return g_selectionMessages;
}

}  // namespace

TEST(DialogKeys, CtrlASelectsAllInEveryEditBox) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  for (int id : {IDC_EDIT_INPUT, IDC_EDIT_SAVE, IDC_EDIT_NAME, IDC_EDIT_AUTHOR, IDC_EDIT_NUMBER,
                 IDC_EDIT_VERSION}) {
    SCOPED_TRACE(id);
    h.Type(id, L"abc def");
    ::SendMessageW(h.Item(id), EM_SETSEL, 2, 2);
    h.PressKey(id, 'A', false);  // A alone changes no selection
    DWORD start = 0, end = 0;
    ::SendMessageW(h.Item(id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 2u);
    EXPECT_EQ(end, 2u);
    h.PressKey(id, 'A', true);
    ::SendMessageW(h.Item(id), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 7u);
    EXPECT_EQ(h.Text(id), L"abc def");  // the key selected, it did not type

    EXPECT_EQ(SelectionRequests(h, id, true), (std::vector<UINT>{EM_SETSEL, EM_SCROLLCARET}));
    EXPECT_TRUE(SelectionRequests(h, id, false).empty());
  }
}

TEST(DialogChoosers, ChoosingFilesThroughTheRealChoosers) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"english.txt");
  WriteBytes(list, "apple\tfruit\n");

  // Save-as with an empty save box proposes LumoDict.ldic; cancelling changes nothing.
  ::PostMessageW(h.Item(IDC_BUTTON_SAVEAS), BM_CLICK, 0, 0);
  HWND chooser = app_test::WaitForChooser(h.Dialog(), 10000);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(ui::GetText(app_test::ChooserFileNameBox(chooser)), L"LumoDict.ldic");
  ::PostMessageW(::GetDlgItem(chooser, IDCANCEL), BM_CLICK, 0, 0);
  ASSERT_TRUE(app_test::WaitUntil([&] { return !::IsWindow(chooser); }, 5000));
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), L"");

  // Import: the user types the word list's path into the chooser and opens it.
  ::PostMessageW(h.Item(IDC_BUTTON_IMPORT), BM_CLICK, 0, 0);
  chooser = app_test::WaitForChooser(h.Dialog(), 10000);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(ui::GetText(app_test::ChooserFileNameBox(chooser)), L"*.txt");
  ::SendMessageW(app_test::ChooserFileNameBox(chooser), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(list.c_str()));
  ::PostMessageW(::GetDlgItem(chooser, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(app_test::WaitUntil([&] { return !::IsWindow(chooser); }, 5000));
  ASSERT_TRUE(app_test::WaitUntil([&] { return h.Text(IDC_EDIT_INPUT) == list; }, 5000));
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), h.Temp().File(L"english.ldic"));
  EXPECT_EQ(h.Text(IDC_EDIT_NAME), L"english");
  EXPECT_TRUE(h.Enabled(IDOK));

  // Save-as proposes the save box's base name; the chosen path replaces the box.
  ::PostMessageW(h.Item(IDC_BUTTON_SAVEAS), BM_CLICK, 0, 0);
  chooser = app_test::WaitForChooser(h.Dialog(), 10000);
  ASSERT_NE(chooser, nullptr);
  EXPECT_EQ(ui::GetText(app_test::ChooserFileNameBox(chooser)), L"english.ldic");
  const std::wstring chosen = h.Temp().File(L"other.ldic");
  ::SendMessageW(app_test::ChooserFileNameBox(chooser), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(chosen.c_str()));
  ::PostMessageW(::GetDlgItem(chooser, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(app_test::WaitUntil([&] { return h.Text(IDC_EDIT_SAVE) == chosen; }, 5000));
}

TEST(DialogDrop, OneDroppedFileIsChosenOtherDropsAreIgnored) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring folder = h.Temp().File(L"data.old");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring list = folder + L"\\list";
  const std::wstring second = h.Temp().File(L"b.txt");
  WriteBytes(list, "a\tb\n");
  WriteBytes(second, "a\tb\n");

  h.Drop({list, second});  // two files: not a choice
  h.Drop({folder});        // a folder: not a word list
  EXPECT_EQ(h.Text(IDC_EDIT_INPUT), L"");
  EXPECT_FALSE(h.Enabled(IDOK));

  h.Drop({list});
  EXPECT_EQ(h.Text(IDC_EDIT_INPUT), list);
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), list + L".ldic");  // beside the list, not as the folder
  EXPECT_EQ(h.Text(IDC_EDIT_NAME), L"list");
  EXPECT_TRUE(h.Enabled(IDOK));
}

TEST(DialogValidation, EachProblemHasItsMessageAndNothingStarts) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"words.txt");
  WriteBytes(list, "apple\tfruit\n");
  h.Drop({list});
  ASSERT_TRUE(h.Enabled(IDOK));

  // A save path gets ".ldic": only a list of that name can be where the package would go.
  const std::wstring ldicList = h.Temp().File(L"words.ldic");
  WriteBytes(ldicList, "apple\tfruit\n");
  std::wstring upperList = ldicList;
  for (wchar_t& c : upperList) c = static_cast<wchar_t>(::towupper(c));
  // Each message, and the box that then has the focus: the one holding what was wrong.
  struct Case {
    const char* what;
    std::wstring input;
    std::wstring save;
    std::wstring name;
    UserMessage message;
    int focus;
  };
  // A folder named as a package: a save path without ".ldic" would get it and name no folder.
  const std::wstring folder = h.Temp().File(L"folder.ldic");
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const Case cases[] = {
      {"empty input box", L"", h.Temp().File(L"out.ldic"), L"n", UserMessage::kInputMissing,
       IDC_EDIT_INPUT},
      {"no input, save without folder", h.Temp().File(L"none.txt"), L"out.ldic", L"n",
       UserMessage::kBothPathsWrong, IDC_EDIT_INPUT},
      {"missing save folder", list, h.Temp().File(L"missing\\out.ldic"), L"n",
       UserMessage::kSavePathWrong, IDC_EDIT_SAVE},
      {"save path is the word list", ldicList, ldicList, L"n", UserMessage::kSaveIsInput, IDC_EDIT_SAVE},
      {"save path is the word list in capitals", ldicList, upperList, L"n", UserMessage::kSaveIsInput,
       IDC_EDIT_SAVE},
      // A device is in every folder; a package never replaces one, nor a folder.
      {"save path is a device", list, h.Temp().File(L"NUL"), L"n", UserMessage::kSaveNotRegularFile,
       IDC_EDIT_SAVE},
      {"save path is a folder", list, folder, L"n", UserMessage::kSaveNotRegularFile, IDC_EDIT_SAVE},
      {"facts too long", list, h.Temp().File(L"out.ldic"), std::wstring(600, L'x'),
       UserMessage::kMetadataTooLong, IDC_EDIT_NAME},
      {"name of blanks", list, h.Temp().File(L"out.ldic"), L" \u3000\t ",
       UserMessage::kNameEmpty, IDC_EDIT_NAME},
      {"empty name", list, h.Temp().File(L"out.ldic"), L"", UserMessage::kNameEmpty,
       IDC_EDIT_NAME},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ::SetCurrentDirectoryW(L"C:\\");
    h.Type(IDC_EDIT_INPUT, c.input);
    h.Type(IDC_EDIT_SAVE, c.save);
    if (c.name.find(L'\t') == std::wstring::npos)
      h.Type(IDC_EDIT_NAME, c.name);
    else  // a tab cannot be typed into a dialog's box, but it can be pasted
      ::SendMessageW(h.Item(IDC_EDIT_NAME), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(c.name.c_str()));
    h.Focus(IDOK);  // as the click on it leaves it
    // What an earlier run left on the status line goes with the refusal.
    ::SetDlgItemTextW(h.Dialog(), IDC_STATUS, Msg(UserMessage::kConvertDone));
    const BoxSeen box = h.ClickExpectingBox(IDOK);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.text, Msg(c.message));
    EXPECT_EQ(box.caption, L"提示");
    EXPECT_TRUE(box.warningIcon);
    EXPECT_EQ(box.status, L"");
    EXPECT_EQ(h.Text(IDC_STATUS), L"");
    EXPECT_TRUE(WaitUntil([&] { return h.FocusId() == c.focus; }, 2000)) << h.FocusId();
    EXPECT_FALSE(h.Visible(IDC_PROGRESS));
    EXPECT_EQ(h.Text(IDCANCEL), L"退出");
    EXPECT_TRUE(h.Enabled(IDOK));
    EXPECT_FALSE(FileExists(h.Temp().File(L"out.ldic")));
    EXPECT_FALSE(FileExists(h.Temp().File(L"LumoDictTemp.des")));
  }
  // The folder test of the last case succeeded and left the save folder current; the
  // empty name was caught after progress 5.
  EXPECT_EQ(::CompareStringOrdinal(CurrentDirectory().c_str(), -1, h.Temp().Path().c_str(), -1,
                                   TRUE),
            CSTR_EQUAL);
  EXPECT_EQ(::SendMessageW(h.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0), 5);
}
