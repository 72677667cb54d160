// CFile (the word list: read-only, unshared, block reads) and CBinaryFile (the checked
// stream of the data and package files).

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/stream_replay.h"
#include "tests/support/test_support.h"

namespace {

using platform::CBinaryFile;
using platform::CFile;
using lumo_test::ReadBytes;
using lumo_test::TempDir;
using lumo_test::WriteBytes;

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
  return bytes;
}

// Reads the whole file in blocks of blockSize and records how many bytes each call gave.
std::string ReadAllInBlocks(CFile& file, size_t blockSize, std::vector<std::ptrdiff_t>* calls) {
  std::string all;
  std::vector<char> block(blockSize);
  for (;;) {
    const std::ptrdiff_t got = file.Read(block.data(), block.size());
    calls->push_back(got);
    if (got <= 0) break;
    all.append(block.data(), static_cast<size_t>(got));
  }
  return all;
}

TEST(CFileTest, OpenFailsForMissingFileAndFolder) {
  TempDir dir;
  CFile file;
  EXPECT_FALSE(file.Open(dir.File(L"missing.txt")));
  EXPECT_FALSE(file.IsOpen());
  char byte;
  EXPECT_EQ(file.Read(&byte, 1), -1);
  EXPECT_FALSE(file.Seek(0));
  EXPECT_FALSE(file.Open(L""));
}

struct BlockCase {
  size_t fileSize;
  std::vector<std::ptrdiff_t> calls;  // what each Read of 1024 bytes returns
};

class CFileBlockTest : public testing::TestWithParam<BlockCase> {};

TEST_P(CFileBlockTest, ReadsWholeBlocksThenRemainderThenZeroAtEnd) {
  const BlockCase& c = GetParam();
  TempDir dir;
  const std::string content = Pattern(c.fileSize);
  WriteBytes(dir.File(L"list.txt"), content);

  CFile file;
  ASSERT_TRUE(file.Open(dir.File(L"list.txt")));
  std::vector<std::ptrdiff_t> calls;
  EXPECT_EQ(ReadAllInBlocks(file, 1024, &calls), content);
  EXPECT_EQ(calls, c.calls);
  // Reading at the end keeps returning 0, not an error.
  char byte;
  EXPECT_EQ(file.Read(&byte, 1), 0);
}

INSTANTIATE_TEST_SUITE_P(BlockBoundaries, CFileBlockTest,
                         testing::Values(BlockCase{0, {0}}, BlockCase{1, {1, 0}},
                                         BlockCase{1023, {1023, 0}},
                                         BlockCase{1024, {1024, 0}},
                                         BlockCase{1025, {1024, 1, 0}},
                                         BlockCase{2500, {1024, 1024, 452, 0}}));

TEST(CFileTest, SeekRepositionsReads) {
  TempDir dir;
  const std::string content = Pattern(5000);
  WriteBytes(dir.File(L"list.txt"), content);
  CFile file;
  ASSERT_TRUE(file.Open(dir.File(L"list.txt")));

  char buffer[16];
  ASSERT_TRUE(file.Seek(4000));
  ASSERT_EQ(file.Read(buffer, sizeof buffer), 16);
  EXPECT_EQ(std::string(buffer, 16), content.substr(4000, 16));

  ASSERT_TRUE(file.Seek(0));
  ASSERT_EQ(file.Read(buffer, sizeof buffer), 16);
  EXPECT_EQ(std::string(buffer, 16), content.substr(0, 16));

  ASSERT_TRUE(file.Seek(4995));
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 5);

  // Past the end is a valid position; there is simply nothing to read there.
  ASSERT_TRUE(file.Seek(10000));
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);

  // A limit makes the file seem to end there, wherever a read starts.
  file.LimitReads(4010);
  ASSERT_TRUE(file.Seek(4000));
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 10);
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0);
  ASSERT_TRUE(file.Seek(0));
  ASSERT_EQ(file.Read(buffer, sizeof buffer), 16);
  EXPECT_EQ(std::string(buffer, 16), content.substr(0, 16));
}

TEST(CFileTest, CloseThenReopenAnotherFile) {
  TempDir dir;
  WriteBytes(dir.File(L"a.txt"), "first");
  WriteBytes(dir.File(L"b.txt"), "second");
  CFile file;
  ASSERT_TRUE(file.Open(dir.File(L"a.txt")));
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  file.Close();  // closing twice is harmless

  ASSERT_TRUE(file.Open(dir.File(L"b.txt")));
  char buffer[16];
  ASSERT_EQ(file.Read(buffer, sizeof buffer), 6);
  EXPECT_EQ(std::string(buffer, 6), "second");
}

TEST(CFileTest, OpensPathWithChineseAndAccentedCharacters) {
  TempDir dir;
  const std::wstring path = dir.File(L"\u8bcd\u5e93 \u00fc\u00e9.txt");  // 词库 üé.txt
  {
    CBinaryFile out;
    ASSERT_TRUE(out.Open(path, CBinaryFile::Mode::kCreateWrite));
    ASSERT_TRUE(out.Write("abc", 3));
    ASSERT_TRUE(out.Close());
  }
  CFile file;
  ASSERT_TRUE(file.Open(path));
  char buffer[8];
  ASSERT_EQ(file.Read(buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "abc");
}

// Standard input read as CFile reads it: the replay first, then the stream itself, which
// delivers at most a pipe's buffer at a time. Scripts of reads, seeks and the end of
// seeking, each checked against the bytes at the position a seekable file would be at.
struct ReplayStep {
  char op;         // 'r': read this many bytes, 's': seek there, 'x': StopKeeping
  uint64_t value;
  bool ok = true;  // for 's': whether the seek can work
};

TEST(StreamReplayTest, ReadsAsAFileWouldAfterEverySeek) {
  constexpr size_t kPipeChunk = 65536 - 7;
  const std::string stream = Pattern((3u << 20) + 123);
  constexpr uint64_t kMiB = 1u << 20;
  const std::vector<std::vector<ReplayStep>> scripts = {
      // How the word-list reader decides the encoding, then reads on.
      {{'r', 3}, {'s', 0}, {'r', 2 * kMiB + 5}, {'s', 0}, {'x', 0}, {'r', 4 * kMiB}},
      // Seeks to a block's edge, to the end of what was read, and beyond it.
      {{'r', 2 * kMiB + 1}, {'s', kMiB}, {'r', 10}, {'s', 2 * kMiB + 1}, {'r', 10},
       {'s', 2 * kMiB + 12, false}, {'r', 4 * kMiB}},
      // The end of seeking halfway through the kept bytes: the rest still comes, once.
      {{'r', kMiB + 17}, {'s', 5}, {'r', 100}, {'x', 0}, {'s', 0, false}, {'r', 4 * kMiB}},
      {{'x', 0}, {'s', 0, false}, {'r', 4 * kMiB}},
  };
  for (size_t n = 0; n < scripts.size(); ++n) {
    SCOPED_TRACE("script " + std::to_string(n));
    platform::detail::CStreamReplay replay;
    replay.Start();
    size_t streamAt = 0;  // how far the stream itself has been read
    uint64_t at = 0;      // where a file would be
    std::vector<char> buffer(65536);
    for (const ReplayStep& step : scripts[n]) {
      if (step.op == 'x') replay.StopKeeping();
      if (step.op == 's') {
        ASSERT_EQ(replay.Rewind(step.value), step.ok) << step.value;
        if (step.ok) at = step.value;
      }
      for (uint64_t left = step.op == 'r' ? step.value : 0; left > 0;) {
        size_t got = replay.Take(buffer.data(), std::min<uint64_t>(left, buffer.size()));
        if (got == 0) {
          got = std::min(
              {static_cast<size_t>(left), buffer.size(), kPipeChunk, stream.size() - streamAt});
          std::memcpy(buffer.data(), stream.data() + streamAt, got);
          streamAt += got;
          replay.Keep(buffer.data(), got);
        }
        if (got == 0) break;
        ASSERT_EQ(std::string(buffer.data(), got), stream.substr(at, got)) << "at " << at;
        at += got;
        left -= got;
      }
    }
    EXPECT_EQ(at, stream.size());
    EXPECT_EQ(streamAt, stream.size());
  }
}

#ifdef _WIN32
// The word list is opened with share mode 0: while a conversion reads it, no other open
// of it succeeds, for reading or for writing.
TEST(CFileTest, OpenFileIsNotShared) {
  TempDir dir;
  const std::wstring path = dir.File(L"list.txt");
  WriteBytes(path, "word\texplanation\n");

  CFile first;
  ASSERT_TRUE(first.Open(path));
  CFile second;
  EXPECT_FALSE(second.Open(path));
  CBinaryFile reader;
  EXPECT_FALSE(reader.Open(path, CBinaryFile::Mode::kRead));
  CBinaryFile writer;
  EXPECT_FALSE(writer.Open(path, CBinaryFile::Mode::kCreateWrite));

  // The failed opens did not disturb the file, and once it is closed it opens again.
  first.Close();
  ASSERT_TRUE(second.Open(path));
  char buffer[32];
  ASSERT_EQ(second.Read(buffer, sizeof buffer), 17);
  EXPECT_EQ(std::string(buffer, 17), "word\texplanation\n");
}
#endif

class CBinaryFileTest : public testing::Test {
 protected:
  TempDir m_dir;
};

TEST_F(CBinaryFileTest, WriteThenReadBack) {
  const std::wstring path = m_dir.File(L"data.bin");
  const std::string content = Pattern(70000);
  {
    CBinaryFile out;
    ASSERT_TRUE(out.Open(path, CBinaryFile::Mode::kCreateWrite));
    EXPECT_EQ(out.Size(), 0);
    ASSERT_TRUE(out.Write(content.data(), 30000));
    ASSERT_TRUE(out.Write(content.data() + 30000, content.size() - 30000));
    EXPECT_TRUE(out.Write(nullptr, 0));
    EXPECT_EQ(out.Size(), 70000);
    ASSERT_TRUE(out.Close());
  }
  EXPECT_EQ(ReadBytes(path), content);

  CBinaryFile in;
  ASSERT_TRUE(in.Open(path, CBinaryFile::Mode::kRead));
  EXPECT_EQ(in.Size(), 70000);
  std::string back(content.size() + 10, '\0');
  // A short count without an error means the end of the file.
  ASSERT_EQ(in.Read(back.data(), back.size()), 70000);
  back.resize(70000);
  EXPECT_EQ(back, content);

  ASSERT_TRUE(in.Seek(69990));
  char tail[32];
  ASSERT_EQ(in.Read(tail, sizeof tail), 10);
  EXPECT_EQ(std::string(tail, 10), content.substr(69990));
  EXPECT_TRUE(in.Close());
}

TEST_F(CBinaryFileTest, CreateTruncatesExistingFile) {
  const std::wstring path = m_dir.File(L"data.bin");
  WriteBytes(path, Pattern(5000));
  CBinaryFile out;
  ASSERT_TRUE(out.Open(path, CBinaryFile::Mode::kCreateWrite));
  ASSERT_TRUE(out.Write("xy", 2));
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(ReadBytes(path), "xy");
}

// A new file is ours alone: any file or link already of that name is left as it was and
// the open says the name is taken.
TEST_F(CBinaryFileTest, CreateNewNeverOpensAnExistingName) {
  const std::wstring taken = m_dir.File(L"taken.bin");
  WriteBytes(taken, "theirs");
  std::vector<std::wstring> names = {taken};
#ifndef _WIN32
  const auto link = [&](const std::wstring& name, const std::wstring& target) {
    std::filesystem::create_symlink(lumo_test::FsPath(target), lumo_test::FsPath(m_dir.File(name)));
    names.push_back(m_dir.File(name));
  };
  link(L"to-taken.bin", taken);
  link(L"dangling.bin", m_dir.File(L"nowhere.bin"));
#endif
  for (const std::wstring& name : names) {
    CBinaryFile out;
    EXPECT_EQ(out.Open(name, CBinaryFile::Mode::kCreateNew).Kind(), StatusKind::kAlreadyExists);
    EXPECT_FALSE(out.IsOpen());
  }
  EXPECT_EQ(ReadBytes(taken), "theirs");
  EXPECT_FALSE(platform::PathExists(m_dir.File(L"nowhere.bin")));

  CBinaryFile out;
  ASSERT_TRUE(out.Open(m_dir.File(L"new.bin"), CBinaryFile::Mode::kCreateNew));
  ASSERT_TRUE(out.Write("ours", 4));
  ASSERT_TRUE(out.Close());
  EXPECT_EQ(ReadBytes(m_dir.File(L"new.bin")), "ours");
}

TEST_F(CBinaryFileTest, OperationsOnUnopenedOrMissingFileFail) {
  CBinaryFile file;
  EXPECT_FALSE(file.Open(m_dir.File(L"missing.bin"), CBinaryFile::Mode::kRead));
  EXPECT_FALSE(file.IsOpen());
  char byte = 0;
  EXPECT_FALSE(file.Write(&byte, 1));
  EXPECT_EQ(file.Read(&byte, 1), -1);
  EXPECT_FALSE(file.Seek(0));
  EXPECT_EQ(file.Size(), -1);
  EXPECT_FALSE(file.Open(m_dir.File(L"no-such-folder") + L"/x.bin",
                         CBinaryFile::Mode::kCreateWrite));
}

TEST_F(CBinaryFileTest, MoveTransfersTheOpenFile) {
  const std::wstring path = m_dir.File(L"data.bin");
  CBinaryFile first;
  ASSERT_TRUE(first.Open(path, CBinaryFile::Mode::kCreateWrite));
  CBinaryFile second(std::move(first));
  EXPECT_FALSE(first.IsOpen());
  ASSERT_TRUE(second.Write("ab", 2));
  CBinaryFile third;
  third = std::move(second);
  EXPECT_FALSE(second.IsOpen());
  ASSERT_TRUE(third.Write("cd", 2));
  ASSERT_TRUE(third.Close());
  EXPECT_EQ(ReadBytes(path), "abcd");
}

struct FaultCase {
  const char* name;
  int64_t budget;
  std::vector<size_t> writes;
  std::vector<bool> expected;
};

class CBinaryFileFaultTest : public CBinaryFileTest,
                             public testing::WithParamInterface<FaultCase> {};

TEST_P(CBinaryFileFaultTest, WritesFailOnceTheBudgetIsSpent) {
  const FaultCase& c = GetParam();
  CBinaryFile out;
  ASSERT_TRUE(out.Open(m_dir.File(L"data.bin"), CBinaryFile::Mode::kCreateWrite));
  lumo_test::DiskFullAfter full(m_dir.Path(), c.budget);
  std::vector<bool> results;
  for (size_t size : c.writes) {
    const std::string bytes(size, 'x');
    results.push_back(out.Write(bytes.data(), bytes.size()));
  }
  EXPECT_EQ(results, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Budgets, CBinaryFileFaultTest,
    testing::Values(FaultCase{"Off", -1, {4096, 4096}, {true, true}},
                    FaultCase{"Zero", 0, {1}, {false}},
                    FaultCase{"ExactlySpent", 8, {8, 1}, {true, false}},
                    FaultCase{"OneShort", 8, {4, 5}, {true, false}},
                    // Once the disk is "full" it stays full, also for smaller writes.
                    FaultCase{"StaysFull", 10, {6, 6, 1}, {true, false, false}}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(CBinaryFileTest, FaultHookSwitchedOffAgainAllowsWrites) {
  CBinaryFile out;
  ASSERT_TRUE(out.Open(m_dir.File(L"data.bin"), CBinaryFile::Mode::kCreateWrite));
  {
    lumo_test::DiskFullAfter full(m_dir.Path(), 0);
    EXPECT_FALSE(out.Write("a", 1));
  }
  EXPECT_TRUE(out.Write("b", 1));
  // The file missed a write: closing still says so, naming the file and the full disk.
  const Status closed = out.Close();
  EXPECT_EQ(closed.Path(), m_dir.File(L"data.bin"));
  EXPECT_EQ(closed.Reason(), std::strerror(ENOSPC));
  EXPECT_EQ(ReadBytes(m_dir.File(L"data.bin")), "b");
}

// Each kind of operation fails when the plan says so, only under the plan's folder, with
// the system's code for the chosen fault; a sweep over every operation of a small run
// fails each exactly once.
TEST(FaultPlan, FailsTheChosenOperationUnderItsFolderOnly) {
  TempDir dir, elsewhere;
  WriteBytes(dir.File(L"in"), "abc");
  WriteBytes(elsewhere.File(L"in"), "abc");
  // The operations of one small copy, each checked: open, read, flush (closing), open,
  // write, flush, rename, delete.
  const auto copy = [](const TempDir& d) {
    CBinaryFile in, out;
    char buffer[8];
    Status s = in.Open(d.File(L"in"), CBinaryFile::Mode::kRead);
    const std::ptrdiff_t got = s.ok() ? in.Read(buffer, sizeof buffer) : -1;
    if (s.ok() && got < 0) s = in.Error();
    const Status readClosed = in.Close();
    if (s.ok()) s = readClosed;
    if (s.ok()) s = out.Open(d.File(L"tmp"), CBinaryFile::Mode::kCreateWrite);
    if (s.ok() && !out.Write(buffer, static_cast<size_t>(got))) s = out.Error();
    const Status closed = out.Close();
    if (s.ok()) s = closed;
    if (s.ok()) s = platform::ReplaceFile(d.File(L"tmp"), d.File(L"out"));
    if (s.ok()) s = platform::RemoveFile(d.File(L"out"));
    return s;
  };

  platform::CFaultPlan counting(dir.Path());
  {
    platform::CScopedFaultPlan installed(&counting);
    ASSERT_TRUE(copy(dir).ok());
    ASSERT_TRUE(copy(elsewhere).ok());
  }
  const int64_t operations = counting.Count(platform::FileOperation::kAny);
  EXPECT_EQ(counting.Count(platform::FileOperation::kOpen), 2);
  EXPECT_EQ(counting.Count(platform::FileOperation::kRename), 1);

  for (int64_t n = 1; n <= operations; ++n) {
    platform::CFaultPlan plan(dir.Path());
    plan.FailAt(platform::FileOperation::kAny, n, platform::Fault::kDiskFull);
    platform::CScopedFaultPlan installed(&plan);
    const Status failed = copy(dir);
    EXPECT_FALSE(failed.ok()) << "operation " << n;
    EXPECT_EQ(plan.Injected(), 1) << "operation " << n;
    EXPECT_TRUE(copy(elsewhere).ok()) << "operation " << n;
  }
}

}  // namespace
