#pragma once
// One conversion as both front ends run it, from a request whose paths the front end has
// resolved (the dialog with its backslash helpers and the save folder made the current
// directory, ldic with std::filesystem) to a package on disk and, when asked, in
// LumoDict's list:
//
//   CheckConvertPaths, CheckConvertFacts   the checks and their messages, in the dialog's
//                                          order (a front end may show progress between)
//   PrepareConversion                      the job, its word list open, started
//   ConvertThreadProc (core)               the work, on a thread the front end chooses
//   FinishConversion                       the package written, temporary files removed
//   RegisterWithHost                       the package added to LumoDict's list
//
// Every failure is told through the front end's IWarningSink, with its fixed message and,
// where there is one, the file and the system's reason.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/user_messages.h"
#include "common/warning_sink.h"
#include "core/convert_job.h"
#include "host/registration.h"
#include "package/format.h"

// The kinds of input a conversion takes, each read by an entry source of its own (a word
// list by textio/, a dictionary by its format's folder). A new format is a value here, a
// row in the service's table and the front ends' filters.
enum class InputFormat { kWordList, kStarDict, kMdict };

// The format a path names by its extension (an MDict dictionary also by its resource
// file's, .mdd, which it then refuses); a word list for any other.
InputFormat InputFormatOf(const std::wstring& path);
// The format named by ldic's --from ("list", "stardict", "mdict"); nullopt for another name.
std::optional<InputFormat> InputFormatNamed(std::string_view name);
// The names --from takes, in the table's order.
std::vector<std::string> InputFormatNames();
// Whether the format is a whole dictionary, whose report counts entries rather than lines
// and which is read from its own files, never from standard input.
bool IsDictionaryFormat(InputFormat format);

struct ConvertRequest {
  // The input: a word list, or the file that names a dictionary (a StarDict .ifo, an
  // MDict .mdx).
  std::wstring wordList;
  // The word list comes from the process's standard input (ldic convert -); wordList is
  // then only its name in messages.
  bool fromStandardInput = false;
  std::wstring package;
  // The package's folder, where the temporary files go; empty when the front end found
  // it unusable.
  std::wstring folder;
  PackageFacts facts;
  unsigned threads = 0;  // 0: one per core
  unsigned codePage = 0;  // an ANSI list's code page; 0: the system's
  // A word list's explanations have their escapes read (\n, \r, \t, \\), as ldic dump
  // writes them.
  bool unescape = false;
  // What wordList is. A dictionary's entries are taken as they are; for a StarDict one
  // codePage is that of its locale-encoded fields.
  InputFormat format = InputFormat::kWordList;
  // A dictionary's HTML, Pango markup and XDXF kept instead of made plain text (for MDict,
  // with its style sheet expanded).
  bool keepMarkup = false;
  // What becomes of entries with byte-identical headwords.
  DuplicatePolicy duplicates = DuplicatePolicy::kKeep;
};

// The facts of a dictionary that a front end offers as defaults: its own name and author
// (empty for a word list, and where the dictionary has none). A failure when the
// dictionary's facts cannot be read.
struct InputDefaults {
  std::wstring name;
  std::wstring author;
  // The entries the dictionary says it holds (a StarDict one's words and synonyms).
  uint64_t entries = 0;
};
Status ReadInputDefaults(InputFormat format, const std::wstring& path, InputDefaults* defaults);

// A request that cannot run: the fixed message, and the path and the system's reason
// where there is one.
struct ConvertProblem {
  UserMessage message;
  Status cause;
};

// The first problem with the paths: both wrong, the word list missing, the save folder
// wrong, the package would replace the word list, or the save path names no file (a
// device, a pipe, a socket or a folder, or a link to one), which a package never replaces.
std::optional<ConvertProblem> CheckConvertPaths(const ConvertRequest& request);
// The name as it is checked and stored: without the blanks around it (spaces, tabs,
// ideographic spaces), which nobody sees in LumoDict's list. Both front ends pass the name
// they were given through it.
std::wstring TrimName(std::wstring_view name);

// The first problem with the facts: the name is empty or blank, or the facts take more
// room than LumoDict reads of a package.
std::optional<ConvertProblem> CheckConvertFacts(const ConvertRequest& request);

// The entry source a conversion of request reads, the word list read in encoding when
// given; with readLimit, no more than that many bytes of a word list file are read (a
// preview's bound).
std::unique_ptr<IEntrySource> OpenInput(const ConvertRequest& request, std::optional<TextEncoding> encoding,
                                        uint64_t readLimit = 0);

// A job for a checked request: temporary files in its folder, the word list open, the
// thread count set, started. The caller runs ConvertThreadProc on it.
// encoding, when given, replaces the detected one.
std::unique_ptr<CConvertJob> PrepareConversion(const ConvertRequest& request,
                                               IConvertObserver* observer,
                                               std::optional<TextEncoding> encoding = std::nullopt);

// Ends a run whose worker has finished: when it converted, writes the package at
// packagePath (progress 85, 90, 97, 100); then deletes the temporary files the run
// created, also after a failure. True when the package was written.
bool FinishConversion(CConvertJob& job, bool converted, const std::wstring& packagePath,
                      std::u16string_view metaBlock, const std::function<void(int)>& progress,
                      IWarningSink& sink);

// What the user is told after a conversion that skipped or repaired lines, or merged or
// dropped repeated headwords: the entries made, then the lines skipped, repaired, merged
// and dropped with their first line numbers (for a dictionary also the entries left out by
// reason, and its resources not converted), in the texts that text gives for
// kReportEntries, kReportSkipped, kReportRepaired, kReportMergedLines and so on; and on a
// line of its own, for a list that held more than ASCII, the encoding it was read in
// (kReportEncoding; an ANSI list's code page is codePage, 0 for the system's). Empty for a
// clean list whose repeats, if any, were kept.
std::wstring DescribeRunReport(const CRunReport& report,
                               const std::function<std::wstring(UserMessage)>& text,
                               unsigned codePage = 0);

// The encoding a list was read in, as the run report names it: "UTF-8", "UTF-16LE",
// "UTF-16BE", or for ANSI the code page's name and number in kReportCodePage's text
// ("GBK（代码页936）"); codePage 0 is the system's.
std::wstring DescribeEncoding(TextEncoding encoding, unsigned codePage,
                              const std::function<std::wstring(UserMessage)>& text);

// Adds a written package to LumoDict's list in the settings file at settingsPath. The file
// must exist (a missing one is "未找到LumoDict.ini文件，..."): registration never creates
// LumoDict's settings somewhere it does not look.
RegisterOutcome RegisterWithHost(const std::wstring& packagePath, const std::wstring& settingsPath,
                                 IWarningSink& sink);
