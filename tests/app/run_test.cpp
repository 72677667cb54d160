// Conversion runs driven through the dialog: a complete run with its progress and the
// package read back, StarDict and MDict dictionaries chosen and dropped, registration into a settings file, cancelling by the Exit button,
// Esc and the close box and in every phase, a package that cannot be created and a worker
// that cannot start.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/framework.h"
#include "app/main_dialog.h"
#include "app/resource.h"
#include "common/user_messages.h"
#include "common/utf.h"
#include "lumo_product.h"
#include "package/format.h"
#include "package/package_reader.h"
#include "tests/app/dialog_harness.h"
#include "tests/mdict/mdict_writer.h"
#include "tests/stardict/stardict_fixtures.h"

using app_test::BoxSeen;
using app_test::DialogHarness;
using app_test::WaitUntil;
using lumo_test::FileExists;
using lumo_test::ReadBytes;
using lumo_test::WriteBytes;

namespace {

const wchar_t* Msg(UserMessage id) { return UserMessageText(id); }

constexpr char kWordList[] =
    "apple\tA round fruit.\n"
    "Banana\tA long yellow fruit.\n"
    "cherry,A small red fruit.\n"
    "\xe8\x8b\xb9\xe6\x9e\x9c\t\xe4\xb8\x80\xe7\xa7\x8d\xe6\xb0\xb4\xe6\x9e\x9c\n";  // 苹果

// A word list long enough that its reading is still going on when the test cancels.
const std::string& LongWordList() {
  static const std::string text = [] {
    std::string s;
    s.reserve(48u << 20);
    for (long long i = 0; s.size() < (48u << 20); ++i)
      s += "headword" + std::to_string(i) + "\tan explanation of some length, number " +
           std::to_string(i * 7919 % 100003) + "\n";
    return s;
  }();
  return text;
}

std::wstring ProfileString(const std::wstring& ini, const wchar_t* key) {
  wchar_t value[1024] = {};
  ::GetPrivateProfileStringW(L"Dictionary", key, L"", value, 1024, ini.c_str());
  return value;
}

// A leftover of an earlier run that a cancelled run must neither use nor delete.
constexpr char kLeftover[] = "left by a run that was killed";

// No temporary file of the run is left under the first two pairs of names; a file that
// holds kLeftover is not the run's.
bool NoTempFiles(const DialogHarness& h) {
  for (const wchar_t* name : {L"LumoDictTemp.des", L"LumoDictTemp.des.dz", L"LumoDictTemp-2.des",
                              L"LumoDictTemp-2.des.dz"}) {
    if (FileExists(h.Temp().File(name)) && ReadBytes(h.Temp().File(name)) != kLeftover) return false;
  }
  return true;
}

// Chooses the word list by dropping it, and fills in the name.
void Prepare(DialogHarness& h, const std::wstring& list, const std::wstring& name) {
  h.Drop({list});
  h.Type(IDC_EDIT_NAME, name);
}

// The status line says status (after "转换完成！..." the entry count follows).
bool WaitForStatus(const DialogHarness& h, UserMessage status, DWORD timeoutMs) {
  return WaitUntil([&] { return h.Text(IDC_STATUS).starts_with(Msg(status)); }, timeoutMs);
}

// Lets the system's double-click time pass, after which a click is a click of its own.
void WaitOutADoubleClick() {
  const ULONGLONG over = ::GetTickCount64() + ::GetDoubleClickTime();
  WaitUntil([&] { return ::GetTickCount64() > over; }, ::GetDoubleClickTime() + 1000);
}

// The package the conversion service makes of a dictionary, in the harness's folder.
std::string ServicePackage(const DialogHarness& h, const std::wstring& input, InputFormat format,
                           const PackageFacts& facts) {
  ConvertRequest request;
  request.wordList = input;
  request.facts = facts;
  request.format = format;
  return app_test::ServicePackage(h, request);
}

}  // namespace

TEST(DialogRun, CompleteRunMovesProgressInOrderAndWritesThePackage) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"fruit.txt");
  WriteBytes(list, kWordList);
  Prepare(h, list, L" \u3000Ab  ");  // the blanks around the name are not kept
  h.Type(IDC_EDIT_AUTHOR, L"C");
  const std::wstring date = h.Text(IDC_DATE);
  ASSERT_FALSE(date.empty());
  h.RecordProgress();

  // Two runs in a row: the second reaps the first one's worker and, asked whether to
  // replace the first one's package, writes again.
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    h.RecordProgress();
    if (run == 0) {
      h.Click(IDOK);
    } else {
      const BoxSeen ask = h.ClickExpectingBox(IDOK, 10000, IDYES);
      EXPECT_EQ(ask.text, Msg(UserMessage::kReplaceFile));
    }
    ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 30000)) << "status: "
                                                                     << h.Text(IDC_STATUS).size();
    EXPECT_EQ(h.ProgressPositions(), (std::vector<int>{5, 30, 50, 80, 85, 90, 97, 100}));
    EXPECT_FALSE(h.Visible(IDC_PROGRESS));
    EXPECT_TRUE(h.Enabled(IDOK));
    EXPECT_EQ(h.Text(IDCANCEL), L"退出");
    EXPECT_TRUE(NoTempFiles(h));
  }

  // The status says how many entries were made; the package can be shown in its folder.
  EXPECT_EQ(h.Text(IDC_STATUS), std::wstring(Msg(UserMessage::kConvertDone)) + L"（4 条词条）");
  ASSERT_TRUE(h.Visible(IDC_BUTTON_OPEN_FOLDER));
  static std::wstring shown;
  CLumoDictGenDlg::SetFolderOpenerForTesting([](const std::wstring& package) { shown = package; });
  h.Click(IDC_BUTTON_OPEN_FOLDER);
  CLumoDictGenDlg::SetFolderOpenerForTesting(nullptr);
  EXPECT_EQ(shown, h.Temp().File(L"fruit.ldic"));
  // The system menu's About box names the version and the licence.
  auto about = std::async(std::launch::async, [] { return app_test::AnswerBox(10000, IDOK, L"关于 Lumo词典格式转换助手"); });
  ::PostMessageW(h.Dialog(), WM_SYSCOMMAND, IDM_ABOUT, 0);
  const BoxSeen box = about.get();
  ASSERT_TRUE(box.found);
  EXPECT_NE(box.text.find(Utf8ToWideText(LUMO_VERSION)), std::wstring::npos) << WideToUtf8(box.text);
  EXPECT_NE(box.text.find(L"MIT"), std::wstring::npos);
  // A refused Convert takes the way to the package away with the status.
  h.Type(IDC_EDIT_NAME, L"");
  EXPECT_TRUE(h.ClickExpectingBox(IDOK).found);
  EXPECT_FALSE(h.Visible(IDC_BUTTON_OPEN_FOLDER));

  CPackageReader reader;
  ASSERT_TRUE(reader.Open(h.Temp().File(L"fruit.ldic")));
  EXPECT_TRUE(reader.VerifyContents());
  EXPECT_EQ(reader.EntryCount(), 4u);
  EXPECT_EQ(reader.MetadataBlock(), u"N=Ab" + std::u16string(1, u'\0') + u"A=C" +
                                        std::u16string(1, u'\0') + u"DP=" +
                                        std::u16string(date.begin(), date.end()));
  const std::vector<size_t> found = reader.Lookup("\xe8\x8b\xb9\xe6\x9e\x9c");
  ASSERT_EQ(found.size(), 1u);
  std::string explanation;
  EXPECT_EQ(reader.ReadExplanation(found[0], &explanation), PackageError::kNone);
  EXPECT_EQ(explanation, "\xe4\xb8\x80\xe7\xa7\x8d\xe6\xb0\xb4\xe6\x9e\x9c");

  // A refusal after the run leaves no "转换完成" behind it, neither in its box's time nor after.
  h.Type(IDC_EDIT_NAME, std::wstring(600, L'x'));
  const BoxSeen refused = h.ClickExpectingBox(IDOK);
  EXPECT_EQ(refused.text, Msg(UserMessage::kMetadataTooLong));
  EXPECT_EQ(refused.status, L"");
  EXPECT_EQ(h.Text(IDC_STATUS), L"");

  h.Click(IDCANCEL);
  EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
}

TEST(DialogRun, TickedBoxRegistersThePackageInTheSettingsFile) {
  DialogHarness h(true);
  ASSERT_NE(h.Dialog(), nullptr);
  ASSERT_EQ(::SendMessageW(h.Item(IDC_CHECK_REGISTER), BM_GETCHECK, 0, 0), BST_CHECKED);
  const std::wstring list = h.Temp().File(L"fruit.txt");
  WriteBytes(list, kWordList);
  Prepare(h, list, L"fruit");

  const BoxSeen box = h.ClickExpectingBox(IDOK, 30000);
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, Msg(UserMessage::kRegistered));
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 10000));
  EXPECT_EQ(ProfileString(h.SettingsPath(), L"QueryDictNum"), L"1");
  EXPECT_EQ(ProfileString(h.SettingsPath(), L"QueryFileName0"), h.Temp().File(L"fruit.ldic"));
  EXPECT_EQ(ProfileString(h.SettingsPath(), L"QueryChecked0"), L"1");

  // The same path again (the user agreeing to replace the package) replaces its entry
  // instead of adding a second one.
  const BoxSeen ask = h.ClickExpectingBox(IDOK, 10000, IDYES);
  EXPECT_EQ(ask.text, Msg(UserMessage::kReplaceFile));
  const BoxSeen again = app_test::AnswerBox(30000);
  ASSERT_TRUE(again.found);
  EXPECT_EQ(again.text, Msg(UserMessage::kRegistered));
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 10000));
  EXPECT_EQ(ProfileString(h.SettingsPath(), L"QueryDictNum"), L"1");

  // Unticked: no registration.
  h.Click(IDC_CHECK_REGISTER);
  const std::string before = ReadBytes(h.SettingsPath());
  h.Type(IDC_EDIT_SAVE, h.Temp().File(L"second.ldic"));
  h.Click(IDOK);
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 30000));
  EXPECT_TRUE(FileExists(h.Temp().File(L"second.ldic")));
  EXPECT_EQ(ReadBytes(h.SettingsPath()), before);
}

TEST(DialogRun, CancelByExitEscOrCloseBoxStopsTheRunAndKeepsTheSavePathFile) {
  enum class Way { kExitButton, kEscape, kCloseBox };
  for (Way way : {Way::kExitButton, Way::kEscape, Way::kCloseBox}) {
    SCOPED_TRACE(static_cast<int>(way));
    DialogHarness h(true);
    ASSERT_NE(h.Dialog(), nullptr);
    const std::wstring list = h.Temp().File(L"long.txt");
    WriteBytes(list, LongWordList());
    Prepare(h, list, L"long");
    const std::wstring package = h.Temp().File(L"long.ldic");
    WriteBytes(package, "an earlier file the run must not remove");
    WriteBytes(h.Temp().File(L"LumoDictTemp.des.dz"), kLeftover);
    const std::string settings = ReadBytes(h.SettingsPath());

    // The user agrees to replace the earlier file; cancelled, the run replaces nothing.
    EXPECT_EQ(h.ClickExpectingBox(IDOK, 10000, IDYES).text, Msg(UserMessage::kReplaceFile));
    EXPECT_EQ(h.Text(IDC_STATUS), Msg(UserMessage::kConverting));
    EXPECT_EQ(h.Text(IDCANCEL), L"取消");
    EXPECT_TRUE(h.Visible(IDC_PROGRESS));
    EXPECT_FALSE(h.Enabled(IDOK));
    // Choosing another word list during the run does not enable Convert.
    h.Drop({list});
    EXPECT_FALSE(h.Enabled(IDOK));

    switch (way) {
      case Way::kExitButton:
        ::PostMessageW(h.Item(IDCANCEL), BM_CLICK, 0, 0);
        break;
      case Way::kEscape:
        h.PostKey(IDC_EDIT_NAME, VK_ESCAPE);
        break;
      case Way::kCloseBox:
        h.PostCloseBox();
        break;
    }
    ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertCancelled, 10000));
    EXPECT_FALSE(h.Ended());  // the first press cancels, it does not close
    EXPECT_EQ(h.Text(IDCANCEL), L"退出");
    EXPECT_TRUE(h.Enabled(IDOK));
    EXPECT_FALSE(h.Visible(IDC_PROGRESS));
    // Whatever the worker was doing, no package appears, the earlier file stays, the
    // temporary files go and nothing is registered.
    EXPECT_TRUE(WaitUntil([&] { return NoTempFiles(h); }, 20000));
    ::Sleep(300);
    EXPECT_EQ(h.Text(IDC_STATUS), Msg(UserMessage::kConvertCancelled));
    EXPECT_EQ(ReadBytes(package), "an earlier file the run must not remove");
    EXPECT_EQ(ReadBytes(h.Temp().File(L"LumoDictTemp.des.dz")), kLeftover);
    EXPECT_EQ(ReadBytes(h.SettingsPath()), settings);

    // Now, once a double click would be over, the same press closes the program.
    WaitOutADoubleClick();
    h.Click(IDCANCEL);
    EXPECT_EQ(h.WaitForEnd(30000), IDCANCEL);
  }
}

// A cancel in each phase of the work (reading, data file, compression, told apart by the
// bar's position) ends the worker within the dialog's own wait: when the dialog is idle
// again its temporary files are already gone. A second run right after succeeds.
TEST(DialogRun, CancelInEveryPhaseEndsTheWorkerAtOnce) {
  for (int from : {5, 30, 50}) {
    SCOPED_TRACE("cancelled from position " + std::to_string(from));
    DialogHarness h(false);  // nothing to register: no message box after the second run
    ASSERT_NE(h.Dialog(), nullptr);
    const std::wstring list = h.Temp().File(L"long.txt");
    WriteBytes(list, LongWordList());
    Prepare(h, list, L"long");
    h.Click(IDOK);
    ASSERT_TRUE(WaitUntil([&] {
      return ::SendMessageW(h.Item(IDC_PROGRESS), PBM_GETPOS, 0, 0) >= from;
    }, 60000));
    ::PostMessageW(h.Item(IDCANCEL), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertCancelled, 10000));
    EXPECT_TRUE(NoTempFiles(h));
    EXPECT_FALSE(FileExists(h.Temp().File(L"long.ldic")));

    const std::wstring small = h.Temp().File(L"small.txt");
    WriteBytes(small, kWordList);
    Prepare(h, small, L"small");
    h.Click(IDOK);
    ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 30000));
    EXPECT_TRUE(FileExists(h.Temp().File(L"small.ldic")));
    h.Click(IDCANCEL);
    EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
  }
}

TEST(DialogRun, PackageThatCannotBeCreatedIsReportedAndNotRegistered) {
  DialogHarness h(true);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"long.txt");
  WriteBytes(list, LongWordList());
  Prepare(h, list, L"long");
  const std::string settings = ReadBytes(h.SettingsPath());

  auto box = std::async(std::launch::async, [] { return app_test::AnswerBox(120000); });
  h.Click(IDOK);
  // A folder takes the package's place while the run goes on.
  ASSERT_TRUE(::CreateDirectoryW(h.Temp().File(L"long.ldic").c_str(), nullptr));
  const BoxSeen seen = box.get();
  ASSERT_TRUE(seen.found);
  EXPECT_EQ(seen.text, Msg(UserMessage::kPackageCreateFailed));
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertFailedStatus, 10000));
  EXPECT_EQ(h.Text(IDCANCEL), L"退出");
  EXPECT_TRUE(h.Enabled(IDOK));
  EXPECT_TRUE(NoTempFiles(h));
  EXPECT_EQ(ReadBytes(h.SettingsPath()), settings);
}

// The worker waits for the test to open this gate, so that what the test does "during the
// run" happens during it on a machine of any speed.
HANDLE g_workerGate = nullptr;

DWORD WINAPI GatedWorkerMain(LPVOID job) {
  ::WaitForSingleObject(g_workerGate, INFINITE);
  return ConvertThreadProc(job);
}

// Opens the gate and restores the real worker however the test ends, before the dialog
// waits for its worker.
struct WorkerGate {
  WorkerGate() {
    g_workerGate = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CLumoDictGenDlg::SetThreadStarterForTesting([](CConvertJob* job) -> HANDLE {
      return ::CreateThread(nullptr, 0, &GatedWorkerMain, job, 0, nullptr);
    });
  }
  ~WorkerGate() {
    Open();
    CLumoDictGenDlg::SetThreadStarterForTesting(nullptr);
  }
  void Open() { ::SetEvent(g_workerGate); }
};

// From Convert to the end of the run the paths are the run's: the boxes are read-only, the
// choosers and drops are refused, and the package goes where Convert pointed. The register
// box stays live: unticked during the run, nothing is registered.
TEST(DialogRun, RunKeepsThePathsConvertTookAndLetsThemGoAtItsEnd) {
  DialogHarness h(true);
  ASSERT_NE(h.Dialog(), nullptr);
  WorkerGate gate;
  const std::wstring list = h.Temp().File(L"long.txt");
  const std::wstring other = h.Temp().File(L"fruit.txt");
  WriteBytes(list, kWordList);
  WriteBytes(other, kWordList);
  Prepare(h, list, L"long");
  const std::string settings = ReadBytes(h.SettingsPath());
  // Read-only: the input and save boxes; disabled: the two choosers' buttons.
  const auto locks = [&] {
    const auto readOnly = [&](int id) {
      return (::GetWindowLongW(h.Item(id), GWL_STYLE) & ES_READONLY) != 0;
    };
    return std::vector<bool>{readOnly(IDC_EDIT_INPUT), readOnly(IDC_EDIT_SAVE),
                             !h.Enabled(IDC_BUTTON_IMPORT), !h.Enabled(IDC_BUTTON_SAVEAS)};
  };

  h.Focus(IDOK);
  h.Click(IDOK);
  EXPECT_EQ(locks(), std::vector<bool>(4, true));
  EXPECT_EQ(h.FocusId(), IDCANCEL);  // Convert, which had it, is disabled
  h.Type(IDC_EDIT_INPUT, other);
  h.Type(IDC_EDIT_SAVE, h.Temp().File(L"elsewhere.ldic"));
  h.Drop({other});
  ::PostMessageW(h.Item(IDC_BUTTON_IMPORT), BM_CLICK, 0, 0);
  EXPECT_EQ(app_test::WaitForChooser(h.Dialog(), 500), nullptr);
  EXPECT_EQ(h.Text(IDC_EDIT_INPUT), list);
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), h.Temp().File(L"long.ldic"));
  // Not even a text another program puts into the box moves the package.
  const std::wstring elsewhere = h.Temp().File(L"elsewhere.ldic");
  ::SendMessageW(h.Item(IDC_EDIT_SAVE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(elsewhere.c_str()));
  EXPECT_TRUE(h.Enabled(IDC_CHECK_REGISTER));
  ::SendMessageW(h.Item(IDC_CHECK_REGISTER), BM_SETCHECK, BST_UNCHECKED, 0);

  gate.Open();
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 120000));
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(h.Temp().File(L"long.ldic")));
  EXPECT_TRUE(reader.VerifyContents());
  EXPECT_FALSE(FileExists(h.Temp().File(L"elsewhere.ldic")));
  EXPECT_FALSE(FileExists(h.Temp().File(L"fruit.ldic")));
  EXPECT_EQ(ReadBytes(h.SettingsPath()), settings);
  EXPECT_EQ(locks(), std::vector<bool>(4, false));
  EXPECT_EQ(h.FocusId(), IDOK);  // back where it was, so that Enter does not press "退出"
  h.Drop({other});
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), h.Temp().File(L"fruit.ldic"));
}

// A worker that cannot be started, and a handler that throws (the exception stops at the
// dialog procedure): either way the user is told and the dialog is idle again.
TEST(DialogRun, RunThatCannotStartIsReportedAndTheDialogReturnsToIdle) {
  const CLumoDictGenDlg::ThreadStarter starters[] = {
      [](CConvertJob*) -> HANDLE { return nullptr; },
      [](CConvertJob*) -> HANDLE { throw std::runtime_error("no thread"); },
  };
  for (const CLumoDictGenDlg::ThreadStarter starter : starters) {
    CLumoDictGenDlg::SetThreadStarterForTesting(starter);
    DialogHarness h(false);
    ASSERT_NE(h.Dialog(), nullptr);
    const std::wstring list = h.Temp().File(L"fruit.txt");
    WriteBytes(list, kWordList);
    Prepare(h, list, L"fruit");
    const BoxSeen box = h.ClickExpectingBox(IDOK);
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.text, Msg(UserMessage::kConvertFailed));
    EXPECT_EQ(h.Text(IDC_STATUS), Msg(UserMessage::kConvertFailedStatus));
    EXPECT_EQ(h.Text(IDCANCEL), L"退出");
    EXPECT_TRUE(h.Enabled(IDOK));
    EXPECT_FALSE(h.Visible(IDC_PROGRESS));
    h.Click(IDCANCEL);
    EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
  }
  CLumoDictGenDlg::SetThreadStarterForTesting(nullptr);
}

// What a run ends with is on the status line before any box speaks: what the list gave
// (and, for a list beyond ASCII, the encoding it was read in), then the registration. A
// file that is no text is refused: no package, nothing registered, no status.
TEST(DialogRun, WhatTheListGaveIsToldBeforeTheRegistration) {
  std::string stray = "apple\t\xe8\x8b\xb9\xe6\x9e\x9c\ncaf\xe9\tcoffee house\n";
  for (int i = 0; i < 300; ++i) stray += "word" + std::to_string(i) + "\t\xe5\x92\x96\xe5\x95\xa1\xe9\xa6\x86\n";
  std::string png = "\x89PNG\r\n\x1A\n" + std::string("\0\0\0\x0DIHDR\0\0\0\x10\0\0\0\x10\x08\x06\0\0\0", 21);
  for (int i = 0; i < 4096; ++i) png += static_cast<char>(i * 7919 % 251);
  const std::wstring done = Msg(UserMessage::kConvertDone);
  const auto doneWith = [&done](const wchar_t* count) { return done + L"（" + count + L" 条词条）"; };
  struct Case {
    const wchar_t* file;
    std::string list;
    std::vector<std::wstring> boxes;  // in the order they come
    std::wstring status;
  };
  const Case cases[] = {
      {L"clean.txt", kWordList, {Msg(UserMessage::kRegistered)}, doneWith(L"4")},
      {L"bad.txt", "apple,a\nno separator\n\n,orphan\n" + std::string("bee,b\0ee\n", 9),
       {L"共转换 2 条词条。有 2 行未能识别，已跳过（第 2、4 行）。有 1 行含无效字符，已替换或删去（第 5 行）。",
        Msg(UserMessage::kRegistered)},
       doneWith(L"2")},
      // One stray byte near the start of a UTF-8 list: the rest is read as UTF-8.
      {L"stray.txt", stray,
       {L"共转换 302 条词条。有 1 行含无效字符，已替换或删去（第 2 行）。\n编码：UTF-8", Msg(UserMessage::kRegistered)},
       doneWith(L"302")},
      // No entry: no package, nothing registered.
      {L"junk.txt", "no separator\n\"open, quote\n", {Msg(UserMessage::kNoEntries)},
       Msg(UserMessage::kConvertFailedStatus)},
      {L"picture.txt", png, {Msg(UserMessage::kNotText)}, L""},
  };
  DialogHarness h(true);
  ASSERT_NE(h.Dialog(), nullptr);
  int registered = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.list, 0, 80)));
    const std::wstring list = h.Temp().File(c.file);
    WriteBytes(list, c.list);
    Prepare(h, list, L"words");
    std::vector<std::wstring> seen;
    BoxSeen box = h.ClickExpectingBox(IDOK, 30000);
    while (box.found) {
      EXPECT_TRUE(box.warningIcon);
      EXPECT_EQ(box.status, c.status);
      seen.push_back(box.text);
      if (seen.size() == c.boxes.size()) break;
      box = app_test::AnswerBox(10000);
    }
    EXPECT_EQ(seen, c.boxes);
    ASSERT_TRUE(WaitUntil([&] { return h.Text(IDC_STATUS) == c.status; }, 10000));
    EXPECT_FALSE(h.Visible(IDC_PROGRESS));
    const bool written = c.status.starts_with(done);
    registered += written;
    const std::wstring package = list.substr(0, list.size() - 3) + L"ldic";
    EXPECT_EQ(FileExists(package), written);
    EXPECT_EQ(ProfileString(h.SettingsPath(), L"QueryDictNum"), std::to_wstring(registered));
    EXPECT_TRUE(NoTempFiles(h));
  }
}

// LumoDict lists a package by the extension ".ldic" alone: a typed save path gets it, in
// lower case, and the box shows the path used. Both packages stay in LumoDict's list.
TEST(DialogRun, ASavePathGetsTheExtensionLumoDictReads) {
  DialogHarness h(true);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"fruit.txt");
  WriteBytes(list, kWordList);
  Prepare(h, list, L"fruit");
  int entry = 0;
  for (const auto& [typed, used] : {std::pair{h.Temp().File(L"noext"), h.Temp().File(L"noext.ldic")},
                                   std::pair{h.Temp().File(L"UPPER.LDIC"), h.Temp().File(L"UPPER.ldic")}}) {
    SCOPED_TRACE(testing::PrintToString(typed));
    h.Type(IDC_EDIT_SAVE, typed);
    h.Type(IDC_EDIT_NAME, L"fruit " + std::to_wstring(entry));  // LumoDict lists a name once
    const BoxSeen box = h.ClickExpectingBox(IDOK, 30000);
    EXPECT_EQ(box.text, Msg(UserMessage::kRegistered));
    ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 10000));
    EXPECT_EQ(h.Text(IDC_EDIT_SAVE), used);
    CPackageReader reader;
    EXPECT_TRUE(reader.Open(used));
    EXPECT_EQ(ProfileString(h.SettingsPath(), (L"QueryFileName" + std::to_wstring(entry++)).c_str()), used);
  }
  EXPECT_EQ(ProfileString(h.SettingsPath(), L"QueryDictNum"), L"2");
  EXPECT_FALSE(FileExists(h.Temp().File(L"noext")));
}

// A file at the save path is replaced only when the user says so: "否" leaves the dialog
// and the file as they were, "是" runs. The save chooser's own question counts once.
TEST(DialogRun, AFileAtTheSavePathIsReplacedOnlyWhenTheUserSaysSo) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"fruit.txt");
  const std::wstring package = h.Temp().File(L"fruit.ldic");
  WriteBytes(list, kWordList);
  WriteBytes(package, "a package of the user's");
  Prepare(h, list, L"fruit");
  const std::wstring status = h.Text(IDC_STATUS);

  const BoxSeen no = h.ClickExpectingBox(IDOK, 10000, IDNO);
  EXPECT_EQ(no.text, Msg(UserMessage::kReplaceFile));
  EXPECT_EQ(no.caption, L"提示");
  EXPECT_TRUE(no.questionIcon);
  EXPECT_EQ(h.Text(IDC_STATUS), status);
  EXPECT_FALSE(h.Visible(IDC_PROGRESS));
  EXPECT_EQ(h.Text(IDCANCEL), L"退出");
  EXPECT_TRUE(h.Enabled(IDOK));
  EXPECT_EQ(ReadBytes(package), "a package of the user's");
  EXPECT_TRUE(NoTempFiles(h));

  EXPECT_EQ(h.ClickExpectingBox(IDOK, 10000, IDYES).text, Msg(UserMessage::kReplaceFile));
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 30000));
  EXPECT_TRUE(CPackageReader().Open(package));

  // Chosen in the save chooser, which asks itself, the file is replaced without a second
  // question; the next Convert asks again.
  ::PostMessageW(h.Item(IDC_BUTTON_SAVEAS), BM_CLICK, 0, 0);
  HWND chooser = app_test::WaitForChooser(h.Dialog(), 10000);
  ASSERT_NE(chooser, nullptr);
  ::SendMessageW(app_test::ChooserFileNameBox(chooser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(package.c_str()));
  ::PostMessageW(::GetDlgItem(chooser, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(app_test::AnswerOwnedBox(chooser, IDYES, 10000));
  ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(chooser); }, 5000));
  ASSERT_EQ(h.Text(IDC_EDIT_SAVE), package);
  auto unexpected = std::async(std::launch::async, [] { return app_test::AnswerBox(3000, IDNO); });
  h.Click(IDOK);
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 30000));
  EXPECT_FALSE(unexpected.get().found);
  EXPECT_EQ(h.ClickExpectingBox(IDOK, 10000, IDNO).text, Msg(UserMessage::kReplaceFile));
}

// The second click of a double click on "取消" finds "退出" in its place: it is ignored for
// the system's double-click time, after which the button quits again.
TEST(DialogRun, ADoubleClickOnCancelDoesNotQuit) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring list = h.Temp().File(L"long.txt");
  WriteBytes(list, LongWordList());
  Prepare(h, list, L"long");
  h.Click(IDOK);
  ASSERT_EQ(h.Text(IDCANCEL), L"取消");
  ::PostMessageW(h.Item(IDCANCEL), BM_CLICK, 0, 0);
  ::PostMessageW(h.Item(IDCANCEL), BM_CLICK, 0, 0);
  // A key posted after the clicks is handled after both.
  ::PostMessageW(h.Item(IDC_EDIT_NAME), WM_CHAR, L'!', 1);
  ASSERT_TRUE(WaitUntil([&] { return h.Ended() || h.Text(IDC_EDIT_NAME) == L"long!"; }, 20000));
  EXPECT_FALSE(h.Ended());
  EXPECT_EQ(h.Text(IDC_STATUS), Msg(UserMessage::kConvertCancelled));
  EXPECT_EQ(h.Text(IDCANCEL), L"退出");
  WaitOutADoubleClick();
  h.Click(IDCANCEL);
  EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
}

// A StarDict dictionary dropped on the dialog fills the name, the save path and the empty
// author box from its .ifo; the run tells of the entry it left out and makes the package
// the conversion service makes of the same request (which is what ldic convert runs).
TEST(DialogRun, AStarDictDictionaryFillsTheBoxesAndConvertsAsLdicDoes) {
  using namespace stardict_test;
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  const std::wstring ifo = WriteDictionary(
      h.Temp(),
      {{"apple", {{'h', "<b>red</b> fruit<br>round"}}}, {"picture", {{'P', "png"}}}, {"zebra", {{'m', "striped"}}}},
      Layout{});
  h.Drop({ifo});
  EXPECT_EQ(h.Text(IDC_EDIT_NAME), L"Test Book");
  EXPECT_EQ(h.Text(IDC_EDIT_AUTHOR), L"An Author");
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), h.Temp().File(L"d.ldic"));
  BoxSeen box = h.ClickExpectingBox(IDOK, 30000);
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"共转换 2 条词条。有 1 条词条只含声音、图片等非文字内容，已跳过（第 2 条）。");
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 10000));

  EXPECT_EQ(ReadBytes(h.Temp().File(L"d.ldic")),
            ServicePackage(h, ifo, InputFormat::kStarDict, {L"Test Book", L"An Author", L"", L"", h.Text(IDC_DATE)}));
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(h.Temp().File(L"d.ldic")));
  std::string explanation;
  ASSERT_EQ(reader.ReadExplanation(0, &explanation), PackageError::kNone);
  EXPECT_EQ(explanation, "red fruit\nround");
  h.Click(IDCANCEL);
  EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
}

// An MDict dictionary chosen through the chooser, or dropped, fills the name from its title
// and the save path; the run tells of its broken link and its resources left out, and
// makes the package the conversion service makes of the same request.
TEST(DialogRun, AnMdictDictionaryFillsTheBoxesAndConvertsAsLdicDoes) {
  DialogHarness h(false);
  ASSERT_NE(h.Dialog(), nullptr);
  mdict_test::Dictionary d;
  d.title = "<b>Collins</b> &amp; Co";
  d.entries = {{"apple", "<b>red</b> fruit<br>round"}, {"fruit", "@@@LINK=apple"}, {"ghost", "@@@LINK=none"}};
  const std::wstring mdx = h.Temp().File(L"words.mdx");
  WriteBytes(mdx, mdict_test::WriteMdict(d));
  WriteBytes(h.Temp().File(L"words.mdd"), "pictures");
  d.title = "";
  const std::wstring untitled = h.Temp().File(L"untitled.MDX");
  WriteBytes(untitled, mdict_test::WriteMdict(d));

  ::PostMessageW(h.Item(IDC_BUTTON_IMPORT), BM_CLICK, 0, 0);
  HWND chooser = app_test::WaitForChooser(h.Dialog(), 10000);
  ASSERT_NE(chooser, nullptr);
  ::SendMessageW(app_test::ChooserFileNameBox(chooser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(untitled.c_str()));
  ::PostMessageW(::GetDlgItem(chooser, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return h.Text(IDC_EDIT_INPUT) == untitled; }, 5000));
  EXPECT_EQ(h.Text(IDC_EDIT_NAME), L"untitled");  // no title: the file's name
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), h.Temp().File(L"untitled.ldic"));

  h.Drop({mdx});
  EXPECT_EQ(h.Text(IDC_EDIT_NAME), L"Collins & Co");
  EXPECT_EQ(h.Text(IDC_EDIT_AUTHOR), L"");
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), h.Temp().File(L"words.ldic"));
  BoxSeen box = h.ClickExpectingBox(IDOK, 30000);
  ASSERT_TRUE(box.found);
  EXPECT_EQ(box.text, L"共转换 2 条词条。有 1 条链接词条指向不存在的词条或构成循环，已跳过（第 3 条）。"
                      L"词典附带的资源文件（.mdd：图片、声音等）未转换。");
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 10000));

  EXPECT_EQ(ReadBytes(h.Temp().File(L"words.ldic")),
            ServicePackage(h, mdx, InputFormat::kMdict, {L"Collins & Co", L"", L"", L"", h.Text(IDC_DATE)}));
  CPackageReader reader;
  ASSERT_TRUE(reader.Open(h.Temp().File(L"words.ldic")));
  const std::vector<size_t> found = reader.Lookup("fruit");
  ASSERT_EQ(found.size(), 1u);
  std::string explanation;
  ASSERT_EQ(reader.ReadExplanation(found[0], &explanation), PackageError::kNone);
  EXPECT_EQ(explanation, "red fruit\nround");
  h.Click(IDCANCEL);
  EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
}

// The facts of the last conversion come back at the next start, and the import chooser
// opens in its list's folder; a start that converts nothing writes nothing.
TEST(DialogRun, TheFactsOfTheLastConversionAreFilledInAtTheNextStart) {
  {
    DialogHarness h(true);
    ASSERT_NE(h.Dialog(), nullptr);
    EXPECT_EQ(h.Text(IDC_EDIT_AUTHOR), L"");
    h.Click(IDCANCEL);
    EXPECT_EQ(h.WaitForEnd(5000), IDCANCEL);
    HKEY key = nullptr;
    EXPECT_NE(::RegOpenKeyExW(HKEY_CURRENT_USER, RememberedFactsKey().c_str(), 0, KEY_READ, &key),
              ERROR_SUCCESS);
  }

  lumo_test::TempDir lists;
  const RememberedFacts earlier{L"张三", L"42", L"2.0", lists.Path()};
  DialogHarness h(true, &earlier);
  ASSERT_NE(h.Dialog(), nullptr);
  EXPECT_EQ(h.Text(IDC_EDIT_AUTHOR), L"张三");
  EXPECT_EQ(h.Text(IDC_EDIT_NUMBER), L"42");
  EXPECT_EQ(h.Text(IDC_EDIT_VERSION), L"2.0");
  EXPECT_EQ(h.Text(IDC_EDIT_NAME), L"");
  EXPECT_EQ(h.Text(IDC_EDIT_INPUT), L"");
  EXPECT_EQ(h.Text(IDC_EDIT_SAVE), L"");

  // A bare file name typed into the chooser is found in the remembered folder.
  WriteBytes(lists.File(L"fruit.txt"), kWordList);
  ::PostMessageW(h.Item(IDC_BUTTON_IMPORT), BM_CLICK, 0, 0);
  HWND chooser = app_test::WaitForChooser(h.Dialog(), 10000);
  ASSERT_NE(chooser, nullptr);
  ::SendMessageW(app_test::ChooserFileNameBox(chooser), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"fruit.txt"));
  ::PostMessageW(::GetDlgItem(chooser, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return h.Text(IDC_EDIT_INPUT) == lists.File(L"fruit.txt"); }, 5000));

  // Convert keeps what was typed, and the folder of the list it converts.
  const std::wstring list = h.Temp().File(L"long.txt");
  WriteBytes(list, kWordList);
  Prepare(h, list, L"long");
  h.Type(IDC_EDIT_AUTHOR, L"李四");
  h.Type(IDC_EDIT_NUMBER, L"7");
  h.Click(IDOK);
  ASSERT_TRUE(WaitForStatus(h, UserMessage::kConvertDone, 30000));
  EXPECT_EQ(LoadRememberedFacts(), (RememberedFacts{L"李四", L"7", L"2.0", h.Temp().Path()}));
}

// Values another program or an older build left: what is no string of sensible length reads
// as empty, the others as they were written.
TEST(RememberedFactsStore, DamagedValuesReadAsEmpty) {
  DialogHarness h(false);  // for its own key, gone with it
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, RememberedFactsKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const auto set = [&](const wchar_t* name, DWORD type, const void* data, size_t bytes) {
    ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
  };
  const DWORD number = 42;
  set(L"LumoNumber", REG_DWORD, &number, sizeof number);
  set(L"Version", REG_BINARY, "1.0", 3);
  const std::wstring huge(kMaxHostMetadataLength + 1, L'x');
  set(L"Folder", REG_SZ, huge.c_str(), (huge.size() + 1) * sizeof(wchar_t));
  // No terminator, and a NUL inside: the text before the NUL.
  set(L"Author", REG_SZ, L"王五\0rest", 7 * sizeof(wchar_t));
  ::RegCloseKey(key);
  EXPECT_EQ(LoadRememberedFacts(), (RememberedFacts{L"王五", L"", L"", L""}));

  const RememberedFacts written{L"", L"123456", std::wstring(kMaxHostMetadataLength, L'v'), L"C:\\词典"};
  ASSERT_TRUE(SaveRememberedFacts(written));
  EXPECT_EQ(LoadRememberedFacts(), written);
}
