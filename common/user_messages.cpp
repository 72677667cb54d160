#include "common/user_messages.h"

namespace {

struct Text {
  UserMessage id;
  const wchar_t* wide;
  const char* utf8;
};


// The literals are spelled once and expanded to both encodings.
#define T(id, s) {UserMessage::id, L"" s, s}

constexpr Text kTexts[] = {
    T(kCaption, "提示"),
    T(kConvertFailed, "转换失败，请您重新转换"),
    T(kTempFileMissing, "临时文件丢失，请重新转换"),
    T(kTempDeleteFailed, "临时文件删除失败，您可以手动删除它们。"),
    T(kInputOpenFailed, "无法打开导入文件，请确认文件存在且未被其他程序占用。"),
    T(kWordListTooBig, "词库过大，无法转换。"),
    T(kPackageCreateFailed, "无法创建词库文件，请检查保存路径。"),
    T(kBothPathsWrong, "导入路径和保存路径错误"),
    T(kInputMissing, "导入文件不存在，请重新选择导入文件"),
    T(kSavePathWrong, "保存路径错误，请重新选择保存路径"),
    T(kNameEmpty, "词库名称不能为空"),
    T(kSaveIsInput, "保存路径不能与导入文件相同。"),
    T(kAlreadyRegistered, "您已经添加过相同的词库"),
    T(kRegistered, "词库添加成功！重启Lumo词典生效"),
    T(kRegisterWriteFailed, "词库添加失败，请检查Lumo词典的设置文件。"),
    T(kNoSettingsFile, "未找到LumoDict.ini文件，无法直接添加到Lumo词典。"),
    T(kConverting, "正在转换，请稍候..."),
    T(kConvertDone, "转换完成！已保存到指定位置。"),
    T(kConvertCancelled, "转换取消。"),
    T(kConvertFailedStatus, "转换失败。"),
    T(kInputPrompt, "请选择或拖入要转换的文件(.txt .csv .ifo .mdx)"),
    T(kTitle, "Lumo词典格式转换助手"),
    T(kWindowFailed, "无法打开程序窗口，请重新启动程序。"),
    T(kDiskFull, "磁盘空间不足，无法保存词库。"),
    T(kMetadataTooLong, "词库信息过长，请缩短名称、作者或版本。"),
    T(kNoEntries, "导入文件中没有可转换的词条，请检查文件的格式和编码。"),
    T(kReportEntries, "共转换 {0} 条词条。"),
    T(kReportSkipped, "有 {0} 行未能识别，已跳过（第 {1} 行）。"),
    T(kReportRepaired, "有 {0} 行含无效字符，已替换或删去（第 {1} 行）。"),
    T(kInputChanged, "导入文件在转换过程中被修改，请重新转换。"),
    T(kReportUnreadable, "有 {0} 条词条无法读取，已跳过（第 {1} 条）。"),
    T(kReportBinaryOnly, "有 {0} 条词条只含声音、图片等非文字内容，已跳过（第 {1} 条）。"),
    T(kReportMergedLines, "有 {0} 个重复词条已合并（第 {1} 行）。"),
    T(kReportDroppedLines, "有 {0} 个重复词条已删去，只保留第一条（第 {1} 行）。"),
    T(kReportMergedEntries, "有 {0} 个重复词条已合并（第 {1} 条）。"),
    T(kReportDroppedEntries, "有 {0} 个重复词条已删去，只保留第一条（第 {1} 条）。"),
    T(kDictionaryDamaged, "无法读取该StarDict词典，文件可能已损坏或格式不受支持。"),
    T(kMdictProtected, "该MDict词典受注册码保护，无法转换。"),
    T(kMdictVersionTooNew, "暂不支持MDict 3.0及以上版本的词典。"),
    T(kSaveNotRegularFile, "保存路径不是普通文件，请选择其他保存位置。"),
    T(kPackageDamaged, "词库文件已损坏，无法读取。"),
    T(kRegisterDiskFull, "磁盘空间不足，词库添加失败。"),
    T(kNotText, "导入文件不是文本文件，请选择词库文本文件。"),
    T(kReplaceFile, "文件已存在，是否替换？"),
    T(kReportEncoding, "编码：{0}"),
    T(kReportCodePage, "{0}（代码页{1}）"),
    T(kMdictDamaged, "无法读取该MDict词典，文件可能已损坏或格式不受支持。"),
    T(kMdictEncodingUnknown, "暂不支持该MDict词典的文字编码，无法转换。"),
    T(kReportBrokenLinks, "有 {0} 条链接词条指向不存在的词条或构成循环，已跳过（第 {1} 条）。"),
    T(kReportResourcesLeftOut, "词典附带的资源文件（.mdd：图片、声音等）未转换。"),
    T(kReportNoHeadword, "有 {0} 条词条没有词头，已跳过（第 {1} 条）。"),
    T(kAboutMenu, "关于 Lumo词典格式转换助手..."),
    T(kAboutText, "Lumo词典格式转换助手\n版本 {0}\n\n{1}\n\n本程序为自由软件，依 MIT 许可证发布：可以自由使用、复制、修改和分发，"
                  "但须保留版权声明和许可声明。详见程序目录中的 LICENSE.txt。"),
    T(kEntryCount, "（{0} 条词条）"),
    T(kPreviewReading, "正在读取..."),
    T(kPreviewLineEnds, "行尾：{0}"),
    T(kPreviewCount, "{0} {1} 行"),
    T(kPreviewSeparators, "分隔符：{0}"),
    T(kPreviewTab, "制表符"),
    T(kPreviewComma, "逗号"),
    T(kPreviewDictionary, "词典：{0}（{1} 条词条）"),
    T(kPreviewReadLines, "已读取 {0} 行，其中 {1} 条词条"),
    T(kPreviewReadEntries, "已读取 {0} 条，其中 {1} 条词条"),
    T(kPreviewMore, "；其后的内容未预览"),
    T(kPreviewSkipped, "跳过：{0}"),
    T(kReasonNoSeparator, "没有制表符或逗号"),
    T(kReasonUnclosedQuote, "引号未闭合"),
    T(kReasonEmptyHeadword, "没有词头"),
    T(kReasonTooLong, "行过长"),
    T(kReasonUnreadable, "无法读取"),
    T(kReasonBinaryOnly, "只含声音、图片等"),
    T(kReasonBrokenLink, "链接无效"),
};

#undef T

const Text* Find(UserMessage id) {
  for (const Text& t : kTexts)
    if (t.id == id) return &t;
  return nullptr;
}

}  // namespace

const wchar_t* UserMessageText(UserMessage id) {
  const Text* t = Find(id);
  return t ? t->wide : L"";
}

const char* UserMessageUtf8(UserMessage id) {
  const Text* t = Find(id);
  return t ? t->utf8 : "";
}

std::wstring FormatUserMessage(std::wstring_view text, std::wstring_view first,
                               std::wstring_view second) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'{' && i + 2 < text.size() && text[i + 2] == L'}' &&
        (text[i + 1] == L'0' || text[i + 1] == L'1')) {
      out += text[i + 1] == L'0' ? first : second;
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::wstring GroupedNumber(uint64_t value) {
  std::wstring digits = std::to_wstring(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, L",");
  return digits;
}
