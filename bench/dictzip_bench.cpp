// The compressor alone, by thread count (Google Benchmark): CompressDataFile on the
// explanations of a generated word list, file to file.
//
//   dictzip_bench [--benchmark_repetitions=3] ...
//
// The input is the explanation field of every line of the 100,000-line benchmark list, in
// word-list order (about 9.5 MB), written once to a temporary file.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "bench/wordlist_gen.h"
#include "package/chunked_data.h"

namespace fs = std::filesystem;

namespace {

const fs::path& InputFile() {
  static const fs::path path = [] {
    std::ostringstream list;
    GenerateWordList(100000, list);
    std::istringstream lines(list.str());
    std::string line;
    std::string explanations;
    while (std::getline(lines, line)) {
      const size_t tab = line.find('\t');
      if (tab != std::string::npos) explanations.append(line, tab + 1, std::string::npos);
    }
    const fs::path file = fs::temp_directory_path() / "lumo_dictzip_bench.des";
    std::ofstream(file, std::ios::binary).write(explanations.data(),
                                                static_cast<std::streamsize>(explanations.size()));
    return file;
  }();
  return path;
}

void BM_CompressDataFile(benchmark::State& state) {
  const fs::path& input = InputFile();
  const fs::path output = fs::temp_directory_path() / "lumo_dictzip_bench.des.dz";
  const unsigned threads = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    if (!CompressDataFile(input.wstring(), output.wstring(), threads)) {
      state.SkipWithError("CompressDataFile failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(fs::file_size(input)));
  state.counters["ratio"] =
      static_cast<double>(fs::file_size(output)) / static_cast<double>(fs::file_size(input));
}

BENCHMARK(BM_CompressDataFile)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
