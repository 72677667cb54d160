// GetLastError's code with the system's English text for it, so that ldic prints the same
// words on every system (the user's language shows in the fixed message before it).

#include <windows.h>

#include "common/utf.h"
#include "platform/system_error.h"

namespace platform {

namespace {

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  DWORD length = ::FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  if (length == 0)
    length = ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::wstring message = length > 0 ? std::wstring(text, length) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L'.' || message.back() == L' '))
    message.pop_back();
  if (message.empty()) return "system error " + std::to_string(code);
  return WideToUtf8(message);
}

}  // namespace

Status LastSystemError(StatusKind kind, const std::wstring& path) {
  const DWORD code = ::GetLastError();
  if (kind == StatusKind::kIoError && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND))
    kind = StatusKind::kNotFound;
  const Status status = Status::Error(kind, path, static_cast<int>(code), SystemMessage(code));
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ? status.AsDiskFull() : status;
}

}  // namespace platform
