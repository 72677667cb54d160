#pragma once
// Every fixed text the user can be shown, by id. The ids are the string-table ids of the
// Windows program, so the dialog loads the same texts from its resources; the portable
// code and ldic use UserMessageText().

#include <string>
#include <string_view>

enum class UserMessage : int {
  kCaption = 200,              // "提示"
  kConvertFailed = 201,        // "转换失败，请您重新转换"
  kTempFileMissing = 202,      // "临时文件丢失，请重新转换"
  kTempDeleteFailed = 203,     // "临时文件删除失败，您可以手动删除它们。"
  kInputOpenFailed = 204,      // "无法打开导入文件，请确认文件存在且未被其他程序占用。"
  kWordListTooBig = 205,       // "词库过大，无法转换。"
  kPackageCreateFailed = 206,  // "无法创建词库文件，请检查保存路径。"
  kBothPathsWrong = 207,
  kInputMissing = 208,
  kSavePathWrong = 209,
  kNameEmpty = 210,
  kSaveIsInput = 211,
  kAlreadyRegistered = 212,
  kRegistered = 213,
  kRegisterWriteFailed = 214,
  kNoSettingsFile = 215,
  kConverting = 216,
  kConvertDone = 217,
  kConvertCancelled = 218,
  kConvertFailedStatus = 219,
  kInputPrompt = 220,
  kTitle = 221,
  kWindowFailed = 222,         // the program's window could not be made
  kDiskFull = 223,             // "磁盘空间不足，无法保存词库。"
  kMetadataTooLong = 224,      // "词库信息过长，请缩短名称、作者或版本。"
  kNoEntries = 225,            // the word list gave no entry
  // The run report after a conversion that skipped or repaired lines; {0} and {1} are
  // filled in by FormatUserMessage.
  kReportEntries = 226,        // "共转换 {0} 条词条。"
  kReportSkipped = 227,        // "有 {0} 行未能识别，已跳过（第 {1} 行）。"
  kReportRepaired = 228,       // "有 {0} 行含无效字符，已替换或删去（第 {1} 行）。"
  kInputChanged = 229,         // the word list changed while it was being converted
  // The same as the run report's for the entries of a StarDict dictionary, by their
  // numbers in its index.
  kReportUnreadable = 230,     // "有 {0} 条词条无法读取，已跳过（第 {1} 条）。"
  kReportBinaryOnly = 231,     // "有 {0} 条词条只含声音、图片等非文字内容，已跳过（第 {1} 条）。"
  // The run report after a conversion that merged repeated headwords or kept only the
  // first of each: the entries folded away, by their lines or a dictionary's entry numbers.
  kReportMergedLines = 260,    // "有 {0} 个重复词条已合并（第 {1} 行）。"
  kReportDroppedLines = 261,   // "有 {0} 个重复词条已删去，只保留第一条（第 {1} 行）。"
  kReportMergedEntries = 262,  // "有 {0} 个重复词条已合并（第 {1} 条）。"
  kReportDroppedEntries = 263, // "有 {0} 个重复词条已删去，只保留第一条（第 {1} 条）。"
  kDictionaryDamaged = 232,    // a StarDict dictionary that cannot be read as one
  kMdictProtected = 233,       // an MDict dictionary locked to a registration key
  kMdictVersionTooNew = 234,   // an MDict dictionary of version 3.0 or later
  kSaveNotRegularFile = 235,   // the save path names a device, a pipe or a folder
  kPackageDamaged = 236,       // a package whose checksum or data does not match
  kRegisterDiskFull = 237,     // the settings file could not be written for lack of space
  kNotText = 238,              // "导入文件不是文本文件，请选择词库文本文件。"
  kReplaceFile = 239,          // "文件已存在，是否替换？", asked with Yes and No
  // The encoding a list was read in, a line of the run report: "编码：{0}", where {0} is
  // "UTF-8", "UTF-16LE", "UTF-16BE" or an ANSI code page as kReportCodePage gives it.
  kReportEncoding = 240,       // "编码：{0}"
  kReportCodePage = 241,       // "{0}（代码页{1}）"
  kMdictDamaged = 242,         // an MDict dictionary that cannot be read as one
  kMdictEncodingUnknown = 243, // an MDict dictionary in an encoding that is not read
  // The run report of an MDict dictionary: aliases that lead nowhere, by their numbers, and
  // its resources (NAME.mdd) left out.
  kReportBrokenLinks = 244,    // "有 {0} 条链接词条指向不存在的词条或构成循环，已跳过（第 {1} 条）。"
  kReportResourcesLeftOut = 245,  // "词典附带的资源文件（.mdd：图片、声音等）未转换。"
  // A dictionary's entries without a headword, by their numbers (a list's are lines).
  kReportNoHeadword = 246,     // "有 {0} 条词条没有词头，已跳过（第 {1} 条）。"
  // The dialog's About box and the count after its status "转换完成！...".
  kAboutMenu = 270,            // "关于 Lumo词典格式转换助手..."
  kAboutText = 271,            // "Lumo词典格式转换助手\n版本 {0}\n\n{1}\n\n..." version, copyright
  kEntryCount = 272,           // "（{0} 条词条）"
  // The preview window: what it read, the input's facts above its list ("编码：" is
  // kReportEncoding's), and why a line it lists is skipped.
  kPreviewReading = 280,    // "正在读取..."
  kPreviewLineEnds = 281,   // "行尾：{0}"
  kPreviewCount = 282,      // "{0} {1} 行"
  kPreviewSeparators = 283, // "分隔符：{0}"
  kPreviewTab = 284,        // "制表符"
  kPreviewComma = 285,      // "逗号"
  kPreviewDictionary = 286, // "词典：{0}（{1} 条词条）"
  kPreviewReadLines = 287,  // "已读取 {0} 行，其中 {1} 条词条"
  kPreviewReadEntries = 288, // "已读取 {0} 条，其中 {1} 条词条"
  kPreviewMore = 289,       // "；其后的内容未预览"
  kPreviewSkipped = 290,    // "跳过：{0}"
  kReasonNoSeparator = 291, // "没有制表符或逗号"
  kReasonUnclosedQuote = 292, // "引号未闭合"
  kReasonEmptyHeadword = 293, // "没有词头"
  kReasonTooLong = 294,     // "行过长"
  kReasonUnreadable = 295,  // "无法读取"
  kReasonBinaryOnly = 296,  // "只含声音、图片等"
  kReasonBrokenLink = 297,  // "链接无效"
};

// The highest id, for walks over every message; ids without a text are no message.
constexpr UserMessage kLastUserMessage = UserMessage::kReasonBrokenLink;

// The text of a message; never null.
const wchar_t* UserMessageText(UserMessage id);

// The same text as UTF-8, for terminals and logs of the command-line tool.
const char* UserMessageUtf8(UserMessage id);

// text with {0} and {1} replaced by first and second.
std::wstring FormatUserMessage(std::wstring_view text, std::wstring_view first,
                               std::wstring_view second = {});

// A count as the messages show it: 13560 as "13,560".
std::wstring GroupedNumber(uint64_t value);
