// The conversion service: the checks both front ends share, and a whole run through it,
// natively and under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/utf.h"
#include "host/dict_description.h"
#include "package/package_reader.h"
#include "service/conversion_service.h"
#include "tests/mdict/mdict_writer.h"
#include "tests/stardict/stardict_fixtures.h"
#include "tests/support/test_support.h"

namespace {

using lumo_test::ReadBytes;
using lumo_test::RecordingObserver;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

// A request to convert list, written as w.txt in dir, into w.ldic in packageDir.
ConvertRequest RequestFor(const TempDir& dir, const std::string& list, const TempDir& packageDir,
                          PackageFacts facts = {L"n", L"", L"", L"", L"d"}) {
  ConvertRequest request;
  request.wordList = dir.File(L"w.txt");
  WriteBytes(request.wordList, list);
  request.folder = dir.Path();
  request.package = packageDir.File(L"w.ldic");
  request.facts = std::move(facts);
  return request;
}

struct PathCase {
  const char* label;
  bool listExists;
  bool folderUsable;
  const wchar_t* package;  // in the folder; empty: the word list itself
  std::optional<UserMessage> expected;
};

TEST(ConversionService, PathChecksInTheDialogsOrder) {
  const PathCase cases[] = {
      {"fine", true, true, L"w.ldic", std::nullopt},
      {"both wrong", false, false, L"w.ldic", UserMessage::kBothPathsWrong},
      {"no word list", false, true, L"w.ldic", UserMessage::kInputMissing},
      {"no folder", true, false, L"w.ldic", UserMessage::kSavePathWrong},
      {"package is the list", true, true, L"", UserMessage::kSaveIsInput},
  };
  for (const PathCase& c : cases) {
    TempDir dir;
    ConvertRequest request;
    request.wordList = dir.File(L"w.txt");
    if (c.listExists) WriteBytes(request.wordList, "a,b\n");
    request.folder = c.folderUsable ? dir.Path() : dir.File(L"missing");
    request.package = *c.package ? dir.File(c.package) : request.wordList;
    const std::optional<ConvertProblem> problem = CheckConvertPaths(request);
    EXPECT_EQ(problem ? std::optional(problem->message) : std::nullopt, c.expected) << c.label;
    // A missing file or folder is told with the system's reason.
    if (problem && problem->message != UserMessage::kSaveIsInput) {
      EXPECT_FALSE(problem->cause.Reason().empty()) << c.label;
    }
  }

  // Only a file is replaced by a package: a folder, a device, a pipe or a link to one is
  // refused before any work, and stays what it was; a link to a file is a file.
  TempDir dir;
  ConvertRequest request;
  request.wordList = dir.File(L"w.txt");
  WriteBytes(request.wordList, "a,b\n");
  request.folder = dir.Path();
  std::filesystem::create_directory(lumo_test::FsPath(dir.File(L"folder.ldic")));
  WriteBytes(dir.File(L"file.ldic"), "earlier");
  std::vector<std::pair<std::wstring, bool>> saves = {
      {dir.File(L"folder.ldic"), false}, {dir.File(L"file.ldic"), true}, {dir.File(L"new.ldic"), true}};
#ifdef _WIN32
  saves.emplace_back(dir.File(L"NUL"), false);
  saves.emplace_back(L"\\\\.\\pipe\\lumo-none", false);
#else
  std::error_code ec;
  std::filesystem::create_symlink("/dev/null", lumo_test::FsPath(dir.File(L"null.ldic")), ec);
  std::filesystem::create_symlink(lumo_test::FsPath(dir.File(L"file.ldic")),
                                  lumo_test::FsPath(dir.File(L"link.ldic")), ec);
  ASSERT_EQ(::mkfifo(WideToUtf8(dir.File(L"fifo.ldic")).c_str(), 0600), 0);
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = WideToUtf8(dir.File(L"socket.ldic"));
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  saves.insert(saves.end(), {{dir.File(L"null.ldic"), false}, {dir.File(L"fifo.ldic"), false},
                             {dir.File(L"socket.ldic"), false}, {dir.File(L"link.ldic"), true}});
#endif
  for (const auto& [save, accepted] : saves) {
    request.package = save;
    const std::optional<ConvertProblem> problem = CheckConvertPaths(request);
    EXPECT_EQ(problem ? std::optional(problem->message) : std::nullopt,
              accepted ? std::nullopt : std::optional(UserMessage::kSaveNotRegularFile))
        << WideToUtf8(save);
  }
#ifndef _WIN32
  ::close(sock);
#endif
}

TEST(ConversionService, AFolderIsNoWordListAndAHardLinkIsTheSameFile) {
  TempDir dir;
  ConvertRequest request;
  request.folder = dir.Path();
  request.wordList = dir.Path();
  request.package = dir.File(L"w.ldic");
  // A folder exists, but cannot be opened as a word list: the run says so.
  EXPECT_FALSE(CheckConvertPaths(request));
  RecordingObserver observer;
  ConvertThreadProc(PrepareConversion(request, &observer).get());
  EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{UserMessage::kInputOpenFailed});

  request.wordList = dir.File(L"w.txt");
  WriteBytes(request.wordList, "a,b\n");
  request.package = dir.File(L"link.ldic");
  std::error_code ec;
  std::filesystem::create_hard_link(lumo_test::FsPath(request.wordList),
                                    lumo_test::FsPath(request.package), ec);
  ASSERT_FALSE(ec) << ec.message();
  EXPECT_EQ(CheckConvertPaths(request)->message, UserMessage::kSaveIsInput);

  // A name is what is left of it without the blanks around it; blanks only are no name.
  const std::pair<std::wstring, std::wstring> names[] = {
      {L"", L""}, {L" \t\u3000 ", L""}, {L"n", L"n"}, {L"\u3000 a b\t ", L"a b"}, {L"a\u3000", L"a"}};
  for (const auto& [given, trimmed] : names) {
    EXPECT_EQ(TrimName(given), trimmed) << WideToUtf8(given);
    request.facts.name = given;
    const std::optional<ConvertProblem> problem = CheckConvertFacts(request);
    EXPECT_EQ(problem.has_value(), trimmed.empty()) << WideToUtf8(given);
    if (problem) {
      EXPECT_EQ(problem->message, UserMessage::kNameEmpty);
    }
  }
}

// A run from request to package: the package is sound, the temporary files are gone, and
// a package that cannot be written is told with its path and reason.
TEST(ConversionService, RunWritesThePackageAndCleansUp) {
  TempDir dir;
  ConvertRequest request = RequestFor(dir, "apple,red fruit\nbee\tinsect\n", dir);
  ASSERT_FALSE(CheckConvertPaths(request));

  RecordingObserver observer;
  std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer);
  ConvertThreadProc(job.get());
  ASSERT_TRUE(observer.DoneSuccess());
  const std::u16string meta = BuildMetadataBlock(request.facts);
  std::vector<int> progress;
  EXPECT_TRUE(FinishConversion(*job, true, request.package, meta,
                               [&progress](int p) { progress.push_back(p); }, observer));
  EXPECT_EQ(progress, (std::vector<int>{85, 90, 97, 100}));
  EXPECT_TRUE(VerifyPackage(request.package).empty());
  EXPECT_FALSE(lumo_test::FileExists(job->Result().temp.data));
  EXPECT_FALSE(lumo_test::FileExists(job->Result().temp.compressed));
  EXPECT_TRUE(observer.Warnings().empty());

  // Again, into a folder that does not exist: no package, the reason told, nothing left.
  job = PrepareConversion(request, &observer);
  ConvertThreadProc(job.get());
  const std::wstring nowhere = dir.File(L"missing") + L"/w.ldic";
  EXPECT_FALSE(FinishConversion(*job, true, nowhere, meta, {}, observer));
  EXPECT_EQ(observer.Warnings(), (std::vector<UserMessage>{UserMessage::kPackageCreateFailed}));
  ASSERT_EQ(observer.Causes().size(), 1u);
  EXPECT_EQ(observer.Causes()[0].Path(), nowhere);
  EXPECT_FALSE(observer.Causes()[0].Reason().empty());
  EXPECT_FALSE(lumo_test::FileExists(job->Result().temp.data));
}

// Every package the checks let through can be listed by LumoDict: the first name too long
// for it is refused, every shorter one converts to a package the host's reader describes.
TEST(ConversionService, FactsLongerThanLumoDictReadsAreRefused) {
  TempDir dir;
  ConvertRequest request =
      RequestFor(dir, "apple,red fruit\n", dir, {L"", L"作者", L"7", L"1.0", L"2026年12月8日"});

  size_t firstRefused = 0;
  for (size_t length = 400; length <= 520 && firstRefused == 0; length += 1) {
    request.facts.name.assign(length, L'词');
    const std::optional<ConvertProblem> problem = CheckConvertFacts(request);
    if (problem) {
      EXPECT_EQ(problem->message, UserMessage::kMetadataTooLong);
      firstRefused = length;
      break;
    }
    if (length % 20 != 0 && length < 480) continue;  // converting every length is slow
    RecordingObserver observer;
    std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer);
    ConvertThreadProc(job.get());
    ASSERT_TRUE(FinishConversion(*job, observer.DoneSuccess(), request.package,
                                 BuildMetadataBlock(request.facts), {}, observer));
    PackageHeader header;
    std::map<std::wstring, std::wstring> facts;
    EXPECT_TRUE(ReadPackageInfo(request.package, &header, &facts)) << length;
    EXPECT_EQ(facts[L"N"], request.facts.name) << length;
  }
  EXPECT_GT(firstRefused, 0u) << "a 520-character name must be refused";
  // Longer names stay refused.
  request.facts.name.assign(2000, L'a');
  EXPECT_TRUE(CheckConvertFacts(request));
}

// A write that fails for lack of space says so, wherever it happens; other failures keep
// their own messages, and a file another program holds open is told as such.
TEST(ConversionService, AFullDiskIsToldAsSuch) {
  struct FaultCase {
    const char* label;
    platform::FileOperation operation;
    platform::Fault fault;
    bool inJob;  // the data file, while converting; else the package
    UserMessage expected;
  };
  const FaultCase cases[] = {
      {"data file, full", platform::FileOperation::kWrite, platform::Fault::kDiskFull, true, UserMessage::kDiskFull},
      {"data file, I/O", platform::FileOperation::kWrite, platform::Fault::kIoError, true, UserMessage::kConvertFailed},
      {"package, full", platform::FileOperation::kWrite, platform::Fault::kDiskFull, false, UserMessage::kDiskFull},
      {"package, I/O", platform::FileOperation::kWrite, platform::Fault::kIoError, false, UserMessage::kConvertFailed},
      {"package not made, full", platform::FileOperation::kOpen, platform::Fault::kDiskFull, false, UserMessage::kDiskFull},
      {"package not made", platform::FileOperation::kOpen, platform::Fault::kAccessDenied, false, UserMessage::kPackageCreateFailed},
      {"word list held open", platform::FileOperation::kOpen, platform::Fault::kSharingViolation, true, UserMessage::kInputOpenFailed},
      {"package held open", platform::FileOperation::kRename, platform::Fault::kSharingViolation, false, UserMessage::kPackageCreateFailed},
  };
  for (const FaultCase& c : cases) {
    TempDir dir, out;
    const ConvertRequest request = RequestFor(dir, "apple,red fruit\nbee\tinsect\n", out);
    platform::CFaultPlan plan(c.inJob ? dir.Path() : out.Path());
    plan.FailAt(c.operation, 1, c.fault, true);
    platform::CScopedFaultPlan installed(&plan);

    RecordingObserver observer;
    std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer);
    ConvertThreadProc(job.get());
    EXPECT_FALSE(FinishConversion(*job, observer.DoneSuccess(), request.package,
                                  BuildMetadataBlock(request.facts), {}, observer));
    EXPECT_EQ(observer.Warnings(), std::vector<UserMessage>{c.expected}) << c.label;
    EXPECT_FALSE(lumo_test::FileExists(request.package)) << c.label;
  }
}

// What a run may find in the package's folder: a word list or a link under a temporary
// name, leftovers of killed runs, a user's file under the package's temporary name, or a
// package saved under a temporary name. Whatever it finds is neither written nor deleted,
// the package is the one an empty folder gives, and nothing of the run is left.
TEST(ConversionService, FilesFoundInTheFolderAreLeftAlone) {
  namespace fs = std::filesystem;
  struct Case {
    const char* label;
    std::vector<std::wstring> found;  // files there before the run, each holding its name
    std::wstring wordList = L"w.txt";
    std::wstring package = L"w.ldic";
    bool link = false;  // LumoDictTemp.des is a link to the found file "target"
  };
  const Case cases[] = {
      {"word list named LumoDictTemp.des", {}, L"LumoDictTemp.des"},
      {"leftover pair", {L"LumoDictTemp.des", L"LumoDictTemp.des.dz"}},
      {"leftover compressed file alone", {L"LumoDictTemp.des.dz"}},
      {"leftovers of two runs", {L"LumoDictTemp.des", L"LumoDictTemp-2.des.dz", L"w.ldic.part"}},
      {"a user's w.ldic.part", {L"w.ldic.part"}},
      {"package saved as the compressed file", {}, L"w.txt", L"LumoDictTemp.des.dz"},
      {"package saved as the data file", {}, L"w.txt", L"LumoDictTemp.des"},
      {"link named LumoDictTemp.des", {L"target"}, L"w.txt", L"w.ldic", true},
  };
  const std::string list = "apple,red fruit\nbee\tinsect\n";
  const PackageFacts facts{L"n", L"", L"", L"", L"d"};
  auto run = [&facts](const TempDir& dir, const Case& c) {
    ConvertRequest request;
    request.wordList = dir.File(c.wordList);
    request.folder = dir.Path();
    request.package = dir.File(c.package);
    request.facts = facts;
    RecordingObserver observer;
    std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer);
    ConvertThreadProc(job.get());
    EXPECT_TRUE(FinishConversion(*job, observer.DoneSuccess(), request.package,
                                 BuildMetadataBlock(facts), {}, observer));
    EXPECT_TRUE(observer.Warnings().empty());
    return ReadBytes(request.package);
  };
  std::string reference;
  {
    TempDir clean;
    WriteBytes(clean.File(L"w.txt"), list);
    reference = run(clean, Case{"clean", {}});
    ASSERT_TRUE(VerifyPackage(clean.File(L"w.ldic")).empty());
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    std::set<std::wstring> expected{c.wordList, c.package};
    for (const std::wstring& name : c.found) {
      WriteBytes(dir.File(name), WideToUtf8(name));
      expected.insert(name);
    }
    WriteBytes(dir.File(c.wordList), list);
    std::error_code ec;
    if (c.link) {
      fs::create_symlink(lumo_test::FsPath(dir.File(L"target")),
                         lumo_test::FsPath(dir.File(L"LumoDictTemp.des")), ec);
      if (ec) continue;  // no links for this user here (Windows)
      expected.insert(L"LumoDictTemp.des");
    }
    EXPECT_EQ(run(dir, c), reference);
    EXPECT_EQ(ReadBytes(dir.File(c.wordList)), list);
    for (const std::wstring& name : c.found) EXPECT_EQ(ReadBytes(dir.File(name)), WideToUtf8(name));
    if (c.link) {
      EXPECT_TRUE(fs::is_symlink(lumo_test::FsPath(dir.File(L"LumoDictTemp.des"))));
    }
    std::set<std::wstring> there;
    for (const fs::directory_entry& entry : fs::directory_iterator(lumo_test::FsPath(dir.Path())))
      there.insert(lumo_test::WidePath(entry.path().filename()));
    EXPECT_EQ(there, expected);
  }
}

// Every file operation of a whole run failed in turn, as a full disk and as an I/O error:
// the run never reports success without a complete package, an earlier package at the
// path stays as it was whenever the run fails, and nothing of the run is left unless the
// user was told that a temporary file could not be deleted. Both with the explanations held
// and with the list read a second time.
TEST(ConversionService, EveryFailingFileOperationIsTold) {
  TempDir dir;
  ConvertRequest request = RequestFor(dir, "apple,red fruit\nbee\tinsect\ncat\tanimal\n", dir);
  request.threads = 1;  // one order of operations
  uint64_t hold = 0;
  const auto run = [&request, &hold](RecordingObserver* observer) {
    std::unique_ptr<CConvertJob> job = PrepareConversion(request, observer);
    job->SetHoldLimit(hold);
    ConvertThreadProc(job.get());
    return FinishConversion(*job, observer->DoneSuccess(), request.package,
                            BuildMetadataBlock(request.facts), {}, *observer);
  };
  const auto folderHolds = [&dir] {
    std::set<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(lumo_test::FsPath(dir.Path())))
      names.insert(lumo_test::WidePath(entry.path().filename()));
    return names;
  };

  for (const uint64_t holdLimit : {uint64_t{0}, uint64_t{1}}) {
    SCOPED_TRACE(holdLimit == 0 ? "explanations held" : "the list read again");
    hold = holdLimit;
    platform::CFaultPlan counting(dir.Path());
    {
      platform::CScopedFaultPlan installed(&counting);
      RecordingObserver observer;
      ASSERT_TRUE(run(&observer));
    }
    const int64_t operations = counting.Count(platform::FileOperation::kAny);
    ASSERT_GT(operations, 10);
    RecordProperty("operations", static_cast<int>(operations));

    for (const platform::Fault fault : lumo_test::kEveryFault) {
      for (int64_t n = 1; n <= operations; ++n) {
        SCOPED_TRACE("operation " + std::to_string(n) + ", " + lumo_test::FaultName(fault));
        WriteBytes(request.package, "earlier");
        platform::CFaultPlan plan(dir.Path());
        plan.FailAt(platform::FileOperation::kAny, n, fault);
        RecordingObserver observer;
        bool written;
        {
          platform::CScopedFaultPlan installed(&plan);
          written = run(&observer);
        }
        ASSERT_EQ(plan.Injected(), 1);
        const std::vector<UserMessage> told = observer.Warnings();
        const bool toldDeleteFailed =
            std::find(told.begin(), told.end(), UserMessage::kTempDeleteFailed) != told.end();
        if (written) {
          EXPECT_TRUE(VerifyPackage(request.package).empty());
          EXPECT_TRUE(told.empty() || told == std::vector<UserMessage>{UserMessage::kTempDeleteFailed});
        } else {
          EXPECT_EQ(ReadBytes(request.package), "earlier");
          EXPECT_FALSE(told.empty());
        }
        if (!toldDeleteFailed) {
          EXPECT_EQ(folderHolds(), (std::set<std::wstring>{L"w.txt", L"w.ldic"}));
        }
        for (const std::wstring& name : folderHolds())
          if (name != L"w.txt" && name != L"w.ldic") std::filesystem::remove(lumo_test::FsPath(dir.File(name)));
      }
    }
  }
}

}  // namespace

TEST(ConversionService, RunReportTextNamesTheFirstLinesAndCountsAll) {
  // Lines as (number, problem or repair); every other line up to the last is clean.
  struct Case {
    std::vector<std::pair<int, std::optional<LineProblem>>> lines;  // nullopt: repaired
    uint64_t entries;
    std::wstring text;
    // The list held more than ASCII, read in this encoding (and ANSI code page).
    std::optional<TextEncoding> encoding = std::nullopt;
    unsigned codePage = 0;
    // Repeated headwords merged or dropped, from these lines (entries of a dictionary).
    ReportReason folded = ReportReason::kMerged;
    std::vector<uint64_t> foldedLines = {};
    bool dictionary = false;
  };
  const Case cases[] = {
      {{}, 12, L""},
      {{}, 12, L"", TextEncoding::Ansi, 936},  // no problem, no box, whatever the encoding
      {{{2, std::nullopt}}, 4, L"共转换 4 条词条。有 1 行含无效字符，已替换或删去（第 2 行）。\n编码：UTF-8",
       TextEncoding::Utf8},
      {{{2, std::nullopt}}, 4, L"共转换 4 条词条。有 1 行含无效字符，已替换或删去（第 2 行）。\n编码：GBK（代码页936）",
       TextEncoding::Ansi, 936},
      {{{3, LineProblem::kNoSeparator}}, 2, L"共转换 2 条词条。有 1 行未能识别，已跳过（第 3 行）。\n编码：ANSI（代码页1252）",
       TextEncoding::Ansi, 1252},
      {{{3, LineProblem::kNoSeparator}}, 2, L"共转换 2 条词条。有 1 行未能识别，已跳过（第 3 行）。\n编码：UTF-16BE",
       TextEncoding::Utf16BE},
      {{{3, LineProblem::kNoSeparator}}, 13560,
       L"共转换 13,560 条词条。有 1 行未能识别，已跳过（第 3 行）。"},
      {{{1, std::nullopt}, {1234, std::nullopt}}, 5,
       L"共转换 5 条词条。有 2 行含无效字符，已替换或删去（第 1、1,234 行）。"},
      {{{2, LineProblem::kEmptyHeadword}, {4, LineProblem::kUnclosedQuote}, {5, std::nullopt},
        {6, LineProblem::kNoSeparator}, {7, LineProblem::kNoSeparator}, {8, LineProblem::kNoSeparator},
        {9, LineProblem::kNoSeparator}},
       1000000,
       L"共转换 1,000,000 条词条。有 6 行未能识别，已跳过（第 2、4、6、7、8… 行）。"
       L"有 1 行含无效字符，已替换或删去（第 5 行）。"},
      {{}, 3, L"共转换 3 条词条。有 2 个重复词条已合并（第 4、9 行）。", std::nullopt, 0, ReportReason::kMerged, {4, 9}},
      {{{2, LineProblem::kNoSeparator}}, 3,
       L"共转换 3 条词条。有 1 行未能识别，已跳过（第 2 行）。有 1 个重复词条已删去，只保留第一条（第 3 行）。",
       std::nullopt, 0, ReportReason::kDropped, {3}},
      {{}, 7, L"共转换 7 条词条。有 1 个重复词条已删去，只保留第一条（第 12 条）。", std::nullopt, 0,
       ReportReason::kDropped, {12}, true},
  };
  for (const Case& c : cases) {
    CRunReport report;
    int line = 0;
    for (const auto& [number, problem] : c.lines) {
      while (line < number) ++line, report.CountLine();
      if (problem)
        report.Skip(*problem, "text");
      else
        report.Repair(LineRepairs{1, 0}, "text");
    }
    report.SetEntries(c.entries);
    if (c.encoding) report.SetEncoding(*c.encoding);
    report.SetHeldNonAscii(c.encoding.has_value());
    if (c.dictionary) report.SetCountsEntries();
    std::vector<ReportedLine> folded;
    for (const uint64_t number : c.foldedLines) folded.push_back({number, c.folded, "w"});
    if (!folded.empty()) report.NoteRepeats(c.folded, folded.size(), folded);
    EXPECT_EQ(DescribeRunReport(report, [](UserMessage id) { return std::wstring(UserMessageText(id)); },
                                c.codePage),
              c.text);
  }
  // A dictionary's entries come by their numbers, its links and a damaged entry among
  // them in another order than they are numbered; its resources are told once.
  CRunReport report;
  report.SetCountsEntries();
  report.LeaveOutResources();
  const auto text = [](UserMessage id) { return std::wstring(UserMessageText(id)); };
  report.SetEntries(3);
  EXPECT_EQ(DescribeRunReport(report, text), L"共转换 3 条词条。词典附带的资源文件（.mdd：图片、声音等）未转换。");
  report.SkipEntry(ReportReason::kUnreadable, "b", 9);
  report.SkipEntry(ReportReason::kLinkTargetMissing, "x", 40);
  report.SkipEntry(ReportReason::kLinkLoop, "y", 7);
  report.SkipEntry(ReportReason::kEmptyHeadword, "z", 2);
  report.SortByNumber();
  EXPECT_TRUE(report.HasProblems());
  EXPECT_EQ(report.SkippedEntries(), 4u);
  EXPECT_EQ(DescribeRunReport(report, text),
            L"共转换 3 条词条。有 1 条词条没有词头，已跳过（第 2 条）。有 1 条词条无法读取，已跳过（第 9 条）。"
            L"有 2 条链接词条指向不存在的词条或构成循环，已跳过（第 7、40 条）。"
            L"词典附带的资源文件（.mdd：图片、声音等）未转换。");
}

// A dictionary whose explanations do not fit beside its index is read again for each
// window of the data file, as a word list is, and gives the package it gives when they
// are held; its scratch file of inflated data is gone afterwards either way. StarDict
// with synonyms, the synonym "w1" merged into the headword's entry as the request asks;
// MDict with links, a style sheet and a damaged record block.
TEST(ConversionService, ADictionaryReadAgainGivesThePackageItGivesHeld) {
  namespace fs = std::filesystem;
  for (const InputFormat format : {InputFormat::kStarDict, InputFormat::kMdict}) {
    SCOPED_TRACE(static_cast<int>(format));
    TempDir dir;
    ConvertRequest request;
    request.format = format;
    if (format == InputFormat::kStarDict) {
      using namespace stardict_test;
      std::vector<Record> records;
      for (int i = 0; i < 300; ++i)
        records.push_back({"w" + std::to_string(i * 7 % 300), {{'m', std::string(100 + i, static_cast<char>('a' + i % 26))}}});
      Layout layout{"m", false, Data::kGzip, true};
      layout.synonyms = {{"alias", 3}, {"w1", 299}};
      request.wordList = WriteDictionary(dir, records, layout);
    } else {
      mdict_test::Dictionary d;
      d.styleSheet = "1\n<i>\n</i>\n";
      d.recordBlockBytes = 2000;
      for (int i = 0; i < 300; ++i)
        d.entries.push_back({"w" + std::to_string(i * 7 % 300),
                             i % 10 == 3 ? "@@@LINK=w" + std::to_string(i * 11 % 300)
                                         : "`1`" + std::string(100 + i, static_cast<char>('a' + i % 26)) + "<br>x"});
      mdict_test::Layout layout;
      std::string bytes = mdict_test::WriteMdict(d, &layout);
      bytes[layout.recordBlocks[4] + 20] ^= 0x55;
      request.wordList = dir.File(L"d.mdx");
      WriteBytes(request.wordList, bytes);
    }
    request.folder = dir.Path();
    request.package = dir.File(L"d.ldic");
    request.facts = {L"n", L"", L"", L"", L"d"};
    if (format == InputFormat::kStarDict) request.duplicates = DuplicatePolicy::kMerge;
    const std::set<std::wstring> before = [&dir] {
      std::set<std::wstring> names;
      for (const auto& entry : fs::directory_iterator(lumo_test::FsPath(dir.Path())))
        names.insert(lumo_test::WidePath(entry.path().filename()));
      return names;
    }();
    std::string held;
    for (const uint64_t hold : {uint64_t{0}, uint64_t{1}}) {
      RecordingObserver observer;
      std::unique_ptr<CConvertJob> job = PrepareConversion(request, &observer);
      job->SetHoldLimit(hold);
      job->SetWindowSize(4096);
      ConvertThreadProc(job.get());
      ASSERT_TRUE(observer.DoneSuccess());
      EXPECT_EQ(job->ReadListAgain(), hold != 0);
      if (format == InputFormat::kMdict) {
        EXPECT_NE(job->Report().UnreadableEntries(), 0u);
      } else {
        bool more = false;
        EXPECT_EQ(job->Report().LineNumbers({ReportReason::kMerged}, 5, &more), std::vector<uint64_t>{302});
        EXPECT_EQ(job->Result().index.EntryCount(), 301u);
      }
      ASSERT_TRUE(FinishConversion(*job, true, request.package, BuildMetadataBlock(request.facts), {}, observer));
      const std::string package = ReadBytes(request.package);
      if (hold == 0) held = package;
      EXPECT_EQ(package, held);
      fs::remove(lumo_test::FsPath(request.package));
      std::set<std::wstring> after;
      for (const auto& entry : fs::directory_iterator(lumo_test::FsPath(dir.Path())))
        after.insert(lumo_test::WidePath(entry.path().filename()));
      EXPECT_EQ(after, before);
    }
  }
}
