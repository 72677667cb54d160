#include <windows.h>

#include <thread>

#include "common/utf.h"
#include "tests/cli/program_run.h"
#include "tests/support/test_support.h"

namespace cli_test {

namespace {

// One argument quoted as the C runtime's command-line parser reads it back.
std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, L'\\');
  return quoted + L"\"";
}

// A path of the build machine, as given to the compiler, where Wine finds it: drive Z:
// is its root.
std::wstring ProgramPath(const std::string& program) {
  std::wstring path = Utf8ToWideText(program);
  if (path.empty() || path[0] != L'/') return path;
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return L"Z:" + path;
}

HANDLE CreateInheritable(const std::wstring& path) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::optional<std::string>& input, const std::wstring& folder) {
  const std::wstring outPath = folder + L"\\program.out";
  const std::wstring errPath = folder + L"\\program.err";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return {};
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE out = CreateInheritable(outPath);
  HANDLE err = CreateInheritable(errPath);

  const std::wstring path = ProgramPath(program);
  std::wstring commandLine = Quote(path);
  for (const std::string& arg : args) commandLine += L" " + Quote(Utf8ToWideText(arg));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  CloseHandle(readEnd);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) {
    CloseHandle(writeEnd);
    return {};
  }

  std::thread feeder([&] {
    for (size_t at = 0; input && at < input->size();) {
      DWORD written = 0;
      const DWORD step = static_cast<DWORD>(std::min<size_t>(input->size() - at, 1 << 20));
      if (!WriteFile(writeEnd, input->data() + at, step, &written, nullptr) || written == 0) break;
      at += written;
    }
    CloseHandle(writeEnd);
  });
  WaitForSingleObject(process.hProcess, INFINITE);
  feeder.join();
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  ProgramResult result;
  result.status = static_cast<int>(status);
  result.out = lumo_test::ReadBytes(outPath);
  result.err = lumo_test::ReadBytes(errPath);
  return result;
}

}  // namespace cli_test
