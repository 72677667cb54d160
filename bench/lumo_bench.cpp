// lumo_bench: the benchmark's own measurements, next to the whole `ldic convert` that
// bench/run.sh times from outside.
//
//   lumo_bench gen LINES OUT [--short]
//       writes the deterministic word list of LINES lines (bench/wordlist_gen.h), of
//       short lines with --short.
//   lumo_bench mdict ENTRIES OUT.mdx
//       writes the deterministic MDict dictionary of ENTRIES keys (bench/mdict_gen.h),
//       the size and shape of a real one, for bench/mdict.sh.
//   lumo_bench floor DATAFILE
//       reads DATAFILE (explanations back to back, as the job's data file holds them) and
//       prints the wall-clock and CPU seconds of the compression floor alone, from
//       memory.
//   lumo_bench phases WORDLIST [--threads N] [--work DIR] [--keep-data FILE]
//       runs the real conversion pipeline (CConvertJob, then WritePackage) on this thread
//       and times each phase by the progress positions the pipeline reports (reading and
//       sorting by the job's own clock, as both end at one position); then times
//       the compression floor: the layout's chunked level-9 compression of the very same
//       explanations (the job's uncompressed data file), from memory, single-threaded.
//       Prints one TAB-separated line per figure: name, seconds, MB/s, bytes, peak MiB.
//   lumo_bench bounds WORDLIST [--work DIR]
//       the bare data movement that any conversion of this list's shape pays besides
//       compression, on this machine: one reading of the list, one pass that finds its
//       lines and separators, a radix sort of one 64-bit key per entry, the explanations
//       scattered to their sorted places and the headwords gathered in sorted order (each
//       of the list's mean length), and the data file written and read back. None of it
//       parses, checks or converts anything, so the sum is below what the pipeline can
//       cost; set against the floor, it tells how close one thread can come to it.
//   lumo_bench register ENTRIES [--repeat N] [--network] [--work DIR]
//       how long one registration takes with ENTRIES dictionaries listed: a settings file
//       with a section before and after the list and ENTRIES entries, each a package of
//       its own path (hard links to a small package), or with --network each a network
//       address, so that only the settings file costs anything; then registers another
//       package into it, N times (default 1) from the same file, and prints the wall-clock
//       and CPU seconds of each. It checks that the package came last in a list of
//       ENTRIES + 1.
//   lumo_bench idle
//       does nothing: timed under Wine, it is Wine's own cost of starting and ending a
//       program, which every row of bench/run.sh --windows pays once.
//   lumo_bench cancel WORDLIST [--times N] [--seed S] [--threads N] [--work DIR]
//                    [--within SECONDS]
//       how long a cancelled job's worker takes to end: times one whole run of the job
//       (Convert, as the dialog's worker runs it), then N times (default 20) starts the
//       worker again, cancels it at a random moment of that duration and measures from the
//       cancel to the worker's end (a run that ended before its cancel is drawn again). Prints one line per run (the moment, the progress
//       position reached, the latency in ms), then the median and maximum. --within draws
//       the moments from the first SECONDS only (the reading and sorting phases, say).
//
// Peak memory per phase is the process's resident high-water mark (VmHWM), reset at the
// start of each phase through /proc/self/clear_refs; it needs Linux (bench/process_stats.h).
// The Windows build (lumo_bench.exe, run under Wine by bench/run.sh --windows) measures
// the same things, with the whole run's peak only.

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/mdict_gen.h"
#include "bench/process_stats.h"
#include "bench/wordlist_gen.h"
#include "common/crc32.h"
#include "core/convert_job.h"
#include "host/registration.h"
#include "package/chunked_data.h"
#include "package/format.h"
#include "package/index_order.h"
#include "package/package_writer.h"
#include "package/temp_files.h"
#include "textio/line_parse.h"
#include "platform/ini_document.h"
#include "textio/text_file.h"
#include "textio/word_list_source.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

void Report(const char* name, double seconds, uint64_t bytes, long peakKiB) {
  const double mbps = seconds > 0 ? bytes / 1e6 / seconds : 0;
  std::printf("%s\t%.3f\t%.1f\t%llu\t%.1f\n", name, seconds, mbps,
              static_cast<unsigned long long>(bytes), peakKiB < 0 ? -1.0 : peakKiB / 1024.0);
  std::fflush(stdout);
}

// Marks the phase boundaries the pipeline reports as progress positions.
class CPhaseClock : public IConvertObserver {
 public:
  explicit CPhaseClock(Clock::time_point start) : m_last(start) {}

  // The positions between the milestones only move the bar; a phase ends at a milestone.
  void OnConvertProgress(int percent) override {
    if (percent == 30 || percent == 50 || percent == 80) Mark(percent);
  }
  void OnConvertDone(bool, CConvertJob*) override {}
  void ShowWarning(UserMessage, const Status&) override { m_warned = true; }

  // Ends the phase that the position closes.
  void Mark(int percent) {
    const Clock::time_point now = Clock::now();
    m_marks.push_back({percent, Seconds(m_last, now), PeakKiB()});
    m_last = now;
    ResetPeak();
  }

  struct Phase {
    int percent;
    double seconds;
    long peakKiB;
  };
  const std::vector<Phase>& Marks() const { return m_marks; }
  bool Warned() const { return m_warned; }

 private:
  Clock::time_point m_last;
  std::vector<Phase> m_marks;
  bool m_warned = false;
};

// The layout's single stream over data held in memory: what the compression of the
// explanations costs with no file I/O and nothing else around it.
uint64_t CompressFloor(const std::string& data, uLong* crcOut) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  std::vector<unsigned char> out(65535);
  uint64_t total = 0;
  // The layout's checksum, computed as the compressor computes it.
  uint32_t crc = 0;
  for (size_t at = 0; at < data.size(); at += kChunkLength) {
    const uInt size = static_cast<uInt>(std::min<size_t>(kChunkLength, data.size() - at));
    const Bytef* in = reinterpret_cast<const Bytef*>(data.data() + at);
    crc = Crc32(crc, in, size);
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = size;
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    if (deflate(&stream, Z_FULL_FLUSH) != Z_OK) {
      deflateEnd(&stream);
      return 0;
    }
    total += out.size() - stream.avail_out;
  }
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  total += out.size() - stream.avail_out;
  deflateEnd(&stream);
  *crcOut = crc;
  return total;
}

std::string ReadWholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Reads and parses the word list as the job does (UTF-8 lists only), so that the sort
// can be timed on entries in word-list order.
int Generate(int argc, char** argv) {
  const bool shortLines = argc == 5 && std::string(argv[4]) == "--short";
  if (argc != 4 && !shortLines) return 2;
  const uint64_t lines = std::strtoull(argv[2], nullptr, 10);
  std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
  const uint64_t bytes = GenerateWordList(lines, out, shortLines ? WordListShape::kShort : WordListShape::kMixed);
  out.close();
  if (!out) {
    std::fprintf(stderr, "lumo_bench: cannot write %s\n", argv[3]);
    return 1;
  }
  std::fprintf(stderr, "%llu lines, %llu bytes\n", static_cast<unsigned long long>(lines),
               static_cast<unsigned long long>(bytes));
  return 0;
}

int Phases(int argc, char** argv) {
  if (argc < 3) return 2;
  const fs::path wordList = fs::absolute(argv[2]);
  unsigned threads = 0;
  fs::path work = wordList.parent_path();
  fs::path keepData;
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--threads")
      threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (option == "--work")
      work = fs::absolute(argv[i + 1]);
    else if (option == "--keep-data")
      keepData = fs::absolute(argv[i + 1]);
    else
      return 2;
  }
  const uint64_t listBytes = fs::file_size(wordList);

  ResetPeak();
  const Clock::time_point start = Clock::now();
  CPhaseClock clock(start);
  CConvertJob job(work.wstring());
  job.SetObserver(&clock);
  job.SetThreads(threads);
  job.SetSource(OpenWordListFile(wordList.wstring()));
  job.Start();
  if (!job.Convert()) {
    std::fprintf(stderr, "lumo_bench: the conversion failed\n");
    DeleteTempFiles(job.Result());
    return 1;
  }
  const fs::path package = work / "lumo_bench_out.ldic";
  PackageFacts facts;
  facts.name = L"bench";
  facts.date = L"2026-01-01";
  const Status written = WritePackage(job.Result(), package.wstring(), BuildMetadataBlock(facts),
                                             [&clock](int percent) { clock.Mark(percent); });
  const double total = Seconds(start, Clock::now());
  if (!written) {
    std::fprintf(stderr, "lumo_bench: the package could not be written\n");
    DeleteTempFiles(job.Result());
    return 1;
  }
  const uint64_t packageBytes = fs::file_size(package);

  struct Named {
    int percent;
    const char* name;
    uint64_t bytes;
  };
  const Named names[] = {
      {30, "read+parse+sort", listBytes},    {50, "write data file", job.Result().dataSize},
      {80, "compress", job.Result().dataSize},      {85, "package header", packageBytes},
      {90, "package index", job.Result().indexSize}, {97, "package data copy", job.Result().compressedSize},
      {100, "checksum stamp", packageBytes},
  };
  // Reading and sorting end at the same position; the job times them apart.
  Report("read+parse", job.PhaseTimes().read, listBytes, -1);
  Report("sort", job.PhaseTimes().sort, listBytes, -1);
  double compressSeconds = 0;
  for (const CPhaseClock::Phase& phase : clock.Marks()) {
    for (const Named& n : names) {
      if (n.percent != phase.percent) continue;
      Report(n.name, phase.seconds, n.bytes, phase.peakKiB);
      if (phase.percent == 80) compressSeconds = phase.seconds;
    }
  }
  Report("pipeline total", total, listBytes, ProcessPeakKiB());

  // The floor, on the same explanations the job compressed.
  const std::string data = ReadWholeFile(fs::path(job.Result().temp.data));
  const std::string packageData = ReadWholeFile(package);
  Clock::time_point floorStart = Clock::now();
  uLong dataCrc = 0;
  const uint64_t floorBytes = CompressFloor(data, &dataCrc);
  const double floorSeconds = Seconds(floorStart, Clock::now());
  Report("compression floor", floorSeconds, data.size(), -1);
  floorStart = Clock::now();
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(packageData.data()),
                          static_cast<uInt>(packageData.size()));
  Report("crc32 of package (alone)", Seconds(floorStart, Clock::now()), packageData.size(), -1);
  std::fprintf(stderr,
               "data %zu bytes (crc %08lx) -> %llu bytes; package crc %08lx; "
               "compress/floor %.3f\n",
               data.size(), dataCrc, static_cast<unsigned long long>(floorBytes), crc,
               floorSeconds > 0 ? compressSeconds / floorSeconds : 0.0);

  std::error_code ec;
  if (!keepData.empty()) fs::copy_file(job.Result().temp.data, keepData, fs::copy_options::overwrite_existing, ec);
  DeleteTempFiles(job.Result());
  fs::remove(package, ec);
  return 0;
}

// The worker's progress and end, as the cancel benchmark needs them.
class CEndClock : public IConvertObserver {
 public:
  void OnConvertProgress(int percent) override { m_position = percent; }
  void OnConvertDone(bool success, CConvertJob*) override {
    m_end = Clock::now();
    m_success = success;
  }
  void ShowWarning(UserMessage, const Status&) override {}

  int Position() const { return m_position; }
  Clock::time_point End() const { return m_end; }
  bool Success() const { return m_success; }

 private:
  std::atomic<int> m_position{5};
  Clock::time_point m_end;
  bool m_success = false;
};

int Cancel(int argc, char** argv) {
  if (argc < 3) return 2;
  const fs::path wordList = fs::absolute(argv[2]);
  int times = 20;
  unsigned seed = 1, threads = 0;
  double within = 0;  // seconds from the start the moments are drawn from; 0: the whole run
  fs::path work = wordList.parent_path();
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--times")
      times = std::atoi(argv[i + 1]);
    else if (option == "--seed")
      seed = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (option == "--threads")
      threads = static_cast<unsigned>(std::strtoul(argv[i + 1], nullptr, 10));
    else if (option == "--work")
      work = fs::absolute(argv[i + 1]);
    else if (option == "--within")
      within = std::atof(argv[i + 1]);
    else
      return 2;
  }
  // Runs the job on a worker thread; with cancelAfter, cancels it that long after the
  // start. Returns the seconds from the cancel (or the start) to the worker's end.
  const auto run = [&](double cancelAfter, int* position, bool* finished) {
    CEndClock clock;
    CConvertJob job(work.wstring());
    job.SetObserver(&clock);
    job.SetThreads(threads);
    job.SetSource(OpenWordListFile(wordList.wstring()));
    job.Start();
    const Clock::time_point start = Clock::now();
    std::thread worker([&job] { ConvertThreadProc(&job); });
    Clock::time_point from = start;
    if (cancelAfter >= 0) {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(cancelAfter));
      *position = clock.Position();
      from = Clock::now();
      job.Cancel();
    }
    worker.join();
    *finished = clock.Success();
    DeleteTempFiles(job.Result());
    return Seconds(from, clock.End());
  };
  int position = 0;
  bool finished = false;
  // The shorter of two whole runs: the first one may meet a cold cache.
  double whole = 0;
  for (int i = 0; i < 2; ++i) {
    const double seconds = run(-1, &position, &finished);
    if (!finished) {
      std::fprintf(stderr, "lumo_bench: the conversion failed\n");
      return 1;
    }
    whole = i == 0 ? seconds : std::min(whole, seconds);
  }
  std::printf("whole run\t%.3f s\n", whole);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> moment(0, within > 0 ? std::min(within, whole) : whole);
  std::vector<double> latencies;
  // A run that ends before its cancel is drawn again, a few times at most.
  for (int i = 0; static_cast<int>(latencies.size()) < times && i < 3 * times; ++i) {
    const double at = moment(random);
    const double seconds = run(at, &position, &finished);
    // A run that ended before its cancel says nothing about the cancel.
    if (finished) {
      std::printf("cancel at %.3f s\tended before the cancel\n", at);
      continue;
    }
    latencies.push_back(seconds * 1000);
    std::printf("cancel at %.3f s\tposition %d\t%.1f ms\n", at, position, seconds * 1000);
  }
  if (latencies.empty()) return 1;
  std::sort(latencies.begin(), latencies.end());
  const size_t n = latencies.size();
  const double median = n % 2 ? latencies[n / 2] : (latencies[n / 2 - 1] + latencies[n / 2]) / 2;
  std::printf("cancels %zu\tmedian %.1f ms\tmax %.1f ms\n", n, median, latencies.back());
  return 0;
}

// Sorts 16-byte records by their 64-bit key, 11 bits a pass with every pass's counts
// taken in one sweep: the cheapest sort of one key per entry, to stand for a sort that
// costs nothing beyond moving the records.
void RadixSort(std::vector<std::pair<uint64_t, uint64_t>>* records) {
  constexpr size_t kBits = 11, kPasses = (64 + kBits - 1) / kBits;
  constexpr uint64_t kMask = (1u << kBits) - 1;
  std::vector<size_t> counts(kPasses << kBits);
  for (const auto& r : *records)
    for (size_t pass = 0; pass < kPasses; ++pass) ++counts[(pass << kBits) + ((r.first >> (pass * kBits)) & kMask)];
  std::vector<std::pair<uint64_t, uint64_t>> other(records->size());
  for (size_t pass = 0; pass < kPasses; ++pass) {
    size_t* slot = counts.data() + (pass << kBits);
    size_t at = 0;
    for (size_t digit = 0; digit <= kMask; ++digit) at += std::exchange(slot[digit], at);
    for (const auto& r : *records) other[slot[(r.first >> (pass * kBits)) & kMask]++] = r;
    records->swap(other);
  }
}

int Bounds(int argc, char** argv) {
  if (argc != 3 && argc != 5) return 2;
  const fs::path wordList = fs::absolute(argv[2]);
  fs::path work = wordList.parent_path();
  if (argc == 5) {
    if (std::string(argv[3]) != "--work") return 2;
    work = fs::absolute(argv[4]);
  }
  std::vector<char> buffer(1 << 20);
  const auto readAll = [&](const fs::path& path, const std::function<void(const char*, size_t)>& each) {
    std::FILE* f = std::fopen(path.string().c_str(), "rb");
    if (!f) return false;
    for (size_t got; (got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0;) each(buffer.data(), got);
    std::fclose(f);
    return true;
  };

  Clock::time_point start = Clock::now();
  uint64_t listBytes = 0;
  if (!readAll(wordList, [&](const char*, size_t n) { listBytes += n; })) return 1;
  const double readSeconds = Seconds(start, Clock::now());

  // Lines and their separators, as a parser must at least find them; a line cut by a
  // block boundary is counted in the next block, which changes nothing measurable.
  uint64_t entries = 0, wordBytes = 0;
  start = Clock::now();
  readAll(wordList, [&](const char* p, size_t n) {
    const char* end = p + n;
    while (p < end) {
      const char* newline = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (!newline) break;
      const char* tab = static_cast<const char*>(std::memchr(p, '\t', newline - p));
      if (!tab) tab = static_cast<const char*>(std::memchr(p, ',', newline - p));
      if (tab) {
        ++entries;
        wordBytes += tab - p;
      }
      p = newline + 1;
    }
  });
  const double scanSeconds = Seconds(start, Clock::now());
  if (entries == 0) return 1;
  const uint64_t explanationBytes = listBytes - wordBytes - 2 * entries;

  std::mt19937_64 random(1);
  std::vector<std::pair<uint64_t, uint64_t>> records(entries);
  for (uint64_t i = 0; i < entries; ++i) records[i] = {random(), i};
  start = Clock::now();
  RadixSort(&records);
  const double sortSeconds = Seconds(start, Clock::now());

  // Where each entry's explanation and headword go: a random order stands for the
  // sorted one, which the list's order does not predict.
  std::vector<uint32_t> place(entries);
  for (uint64_t i = 0; i < entries; ++i) place[i] = static_cast<uint32_t>(records[i].second);
  records = {};
  const size_t explanationLength = explanationBytes / entries, wordLength = wordBytes / entries;
  std::vector<char> data(explanationLength * entries + 1, 'x');
  const std::string source(explanationLength, 'y');
  start = Clock::now();
  for (uint64_t i = 0; i < entries; ++i)
    std::memcpy(data.data() + size_t{place[i]} * explanationLength, source.data(), explanationLength);
  const double scatterSeconds = Seconds(start, Clock::now());

  std::vector<char> words(wordLength * entries + 1, 'w');
  size_t at = 0;
  start = Clock::now();
  for (uint64_t i = 0; i < entries; ++i) {
    if (at + wordLength + kIndexRecordOverhead > buffer.size()) at = 0;
    std::memcpy(buffer.data() + at, words.data() + size_t{place[i]} * wordLength, wordLength);
    at += wordLength + kIndexRecordOverhead;
  }
  const double gatherSeconds = Seconds(start, Clock::now());
  words = {};

  const fs::path file = work / "lumo_bench_bounds.des";
  start = Clock::now();
  bool written;
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size() - 1));
    out.close();
    written = static_cast<bool>(out) && readAll(file, [](const char*, size_t) {});
  }
  const double fileSeconds = Seconds(start, Clock::now());
  fs::remove(file);
  if (!written) return 1;

  Report("read the list", readSeconds, listBytes, -1);
  Report("find lines and separators", scanSeconds, listBytes, -1);
  Report("radix sort of 64-bit keys", sortSeconds, entries * 16, -1);
  Report("scatter explanations", scatterSeconds, data.size() - 1, -1);
  Report("gather headwords", gatherSeconds, wordLength * entries, -1);
  Report("data file written and read", fileSeconds, data.size() - 1, -1);
  Report("bare data movement", readSeconds + scanSeconds + sortSeconds + scatterSeconds +
                                   gatherSeconds + fileSeconds, listBytes, -1);
  return 0;
}

}  // namespace

int Floor(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string data = ReadWholeFile(argv[2]);
  uLong crc = 0;
  const double cpuStart = ProcessCpuSeconds();
  const Clock::time_point start = Clock::now();
  const uint64_t compressed = CompressFloor(data, &crc);
  const double seconds = Seconds(start, Clock::now());
  const double cpuSeconds = ProcessCpuSeconds() - cpuStart;
  std::fprintf(stderr, "%zu bytes -> %llu bytes, crc %08lx\n", data.size(),
               static_cast<unsigned long long>(compressed), crc);
  std::printf("%.3f %.3f\n", seconds, cpuSeconds);
  return compressed > 0 || data.empty() ? 0 : 1;
}

namespace {

class CSilentSink : public IWarningSink {
 public:
  void ShowWarning(UserMessage, const Status&) override {}
};

// A package of the word list text, made by the real pipeline.
bool MakePackage(const fs::path& work, const std::string& text, const fs::path& package) {
  const fs::path list = work / "lumo_bench_register.txt";
  std::ofstream(list, std::ios::binary) << text;
  CConvertJob job(work.wstring());
  job.SetSource(OpenWordListFile(list.wstring()));
  job.Start();
  PackageFacts facts;
  facts.name = L"bench";
  const bool made = job.Convert() &&
                    WritePackage(job.Result(), package.wstring(), BuildMetadataBlock(facts)).ok();
  DeleteTempFiles(job.Result());
  std::error_code ec;
  fs::remove(list, ec);
  return made;
}

}  // namespace

int Register(int argc, char** argv) {
  if (argc < 3) return 2;
  const long entries = std::atol(argv[2]);
  int repeat = 1;
  bool network = false;
  fs::path work = fs::temp_directory_path() / "lumo-bench-register";
  for (int i = 3; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--network") {
      network = true;
    } else if (option == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else if (option == "--work" && i + 1 < argc) {
      work = fs::absolute(argv[++i]);
    } else {
      return 2;
    }
  }
  if (entries < 0 || repeat < 1) return 2;
  const fs::path links = work / "listed";
  fs::create_directories(links);
  const fs::path listed = work / "listed.ldic";
  const fs::path added = work / "added.ldic";
  if (!MakePackage(work, "apple\tred\n", listed) || !MakePackage(work, "bee\tinsect\n", added)) {
    std::fprintf(stderr, "lumo_bench: the packages could not be made\n");
    return 1;
  }

  std::string settings = "[General]\r\nLanguage=1\r\n\r\n[Dictionary]\r\nQueryDictNum=" +
                         std::to_string(entries) + "\r\n";
  for (long i = 0; i < entries; ++i) {
    std::string entry;
    if (network) {
      entry = "http://dict.example.com/" + std::to_string(i);
    } else {
      const fs::path link = links / ("e" + std::to_string(i)).append(".ldic");
      // A file takes some tens of thousands of links at most: one copy of the package
      // for every kLinksPerCopy entries.
      constexpr long kLinksPerCopy = 30000;
      const fs::path copy = links / ("copy" + std::to_string(i / kLinksPerCopy) + ".ldic");
      std::error_code ec;
      if (!fs::exists(copy)) fs::copy_file(listed, copy, ec);
      if (!ec && !fs::exists(link)) fs::create_hard_link(copy, link, ec);
      if (ec) {
        std::fprintf(stderr, "lumo_bench: %s\n", ec.message().c_str());
        return 1;
      }
      entry = link.string();
    }
    settings += "QueryFileName" + std::to_string(i) + "=" + entry + "\r\nQueryChecked" +
                std::to_string(i) + "=1\r\n";
  }
  settings += "\r\n[Other]\r\nWindow=3\r\n";

  const fs::path ini = work / "LumoDict.ini";
  int result = 0;
  for (int run = 0; run < repeat && result == 0; ++run) {
    std::ofstream(ini, std::ios::binary | std::ios::trunc) << settings;
    // An old file, as a user's settings file is, rather than one just written.
    fs::last_write_time(ini, fs::last_write_time(ini) - std::chrono::hours(1));
    CSilentSink sink;
    const double cpuStart = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    const RegisterOutcome outcome = RegisterPackage(sink, added.wstring(), ini.wstring());
    const double seconds = Seconds(start, Clock::now());
    const double cpuSeconds = ProcessCpuSeconds() - cpuStart;
    platform::CIniDocument after;
    const bool listedLast =
        after.Load(ini.wstring()).ok() &&
        after.GetProfileInt(L"Dictionary", L"QueryDictNum", 0) == entries + 1 &&
        after.GetProfileString(L"Dictionary", L"QueryFileName" + std::to_wstring(entries), L"") ==
            added.wstring();
    std::printf("%ld entries%s: %.3f s, CPU %.3f s\n", entries, network ? " (network)" : "",
                seconds, cpuSeconds);
    std::fflush(stdout);
    if (outcome != RegisterOutcome::kRegistered || !listedLast) {
      std::fprintf(stderr, "lumo_bench: the registration failed\n");
      result = 1;
    }
  }
  std::error_code ec;
  fs::remove(ini, ec);
  return result;
}

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  int result = 2;
  if (command == "gen")
    result = Generate(argc, argv);
  else if (command == "floor")
    result = Floor(argc, argv);
  else if (command == "phases")
    result = Phases(argc, argv);
  else if (command == "cancel")
    result = Cancel(argc, argv);
  else if (command == "bounds")
    result = Bounds(argc, argv);
  else if (command == "register")
    result = Register(argc, argv);
  else if (command == "idle")
    result = 0;
  else if (command == "mdict" && argc == 4)
    result = MakeMdictDictionary(std::strtoull(argv[2], nullptr, 10), argv[3]) > 0 ? 0 : 1;
  if (result == 2) {
    std::fprintf(stderr,
                 "usage: lumo_bench gen LINES OUT [--short]\n"
                 "       lumo_bench mdict ENTRIES OUT.mdx\n"
                 "       lumo_bench floor DATAFILE\n"
                 "       lumo_bench bounds WORDLIST [--work DIR]\n"
                 "       lumo_bench register ENTRIES [--repeat N] [--network] [--work DIR]\n"
                 "       lumo_bench idle\n"
                 "       lumo_bench phases WORDLIST [--threads N] [--work DIR] "
                 "[--keep-data FILE]\n"
                 "       lumo_bench cancel WORDLIST [--times N] [--seed S] [--threads N] "
                 "[--work DIR] [--within SECONDS]\n");
  }
  return result;
}
