#pragma once
// What the fuzz targets share: a scratch folder of their own for the files a parser reads,
// and a check that ends the process on a broken property, so that libFuzzer keeps the
// input and the corpus replay fails.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// A folder for this process's files, made on first use and removed at exit.
const std::wstring& ScratchFolder();
// ScratchFolder() + separator + name.
std::wstring ScratchFile(const std::wstring& name);

void WriteFile(const std::wstring& path, std::string_view bytes);
std::string ReadFile(const std::wstring& path);

[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& detail);

}  // namespace fuzz

#define FUZZ_CHECK(condition, detail)                                   \
  do {                                                                  \
    if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition, detail); \
  } while (false)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
