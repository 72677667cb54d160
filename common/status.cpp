#include "common/status.h"

#include "common/utf.h"

std::string Status::Where() const {
  std::string text = WideToUtf8(m_path);
  if (!m_reason.empty()) {
    if (!text.empty()) text += ": ";
    text += m_reason;
  }
  return text;
}

UserMessage MessageFor(const Status& status) {
  if (status.DiskFull() && status.Kind() != StatusKind::kCancelled) return UserMessage::kDiskFull;
  return MessageOfKind(status.Kind());
}

UserMessage MessageOfKind(StatusKind kind) {
  switch (kind) {
    case StatusKind::kCancelled: return UserMessage::kConvertCancelled;
    case StatusKind::kInputUnreadable: return UserMessage::kInputOpenFailed;
    case StatusKind::kNotText: return UserMessage::kNotText;
    case StatusKind::kInputDamaged: return UserMessage::kDictionaryDamaged;
    case StatusKind::kMdictDamaged: return UserMessage::kMdictDamaged;
    case StatusKind::kMdictEncodingUnknown: return UserMessage::kMdictEncodingUnknown;
    case StatusKind::kTooBig: return UserMessage::kWordListTooBig;
    case StatusKind::kPackageCreateFailed: return UserMessage::kPackageCreateFailed;
    case StatusKind::kTempFileMissing: return UserMessage::kTempFileMissing;
    case StatusKind::kNoEntries: return UserMessage::kNoEntries;
    case StatusKind::kInputChanged: return UserMessage::kInputChanged;
    case StatusKind::kInputProtected: return UserMessage::kMdictProtected;
    case StatusKind::kInputVersionTooNew: return UserMessage::kMdictVersionTooNew;
    default: return UserMessage::kConvertFailed;
  }
}
