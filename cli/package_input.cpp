#include "cli/package_input.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/cli_output.h"
#include "cli/cli_paths.h"
#include "package/temp_files.h"
#include "platform/file.h"
#include "platform/file_system.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kPieceBytes = size_t{1} << 20;
// Pieces read ahead of the copy's writing.
constexpr size_t kPiecesAhead = 4;
// A package's sections lie at 32-bit offsets with 32-bit sizes: none ends past 8 GiB.
constexpr uint64_t kLargestPackage = uint64_t{2} << 32;

// Standard input, read on a thread of its own: a read may wait for a writer for as long
// as it likes, and a request to stop must not wait with it. The thread is left to the
// end of the program when the copy is given up.
struct StdinPieces {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::string> pieces;
  bool ended = false;
  Status failure;
  bool abandoned = false;
};

void ReadStandardInput(const std::shared_ptr<StdinPieces>& shared) {
  platform::CFile input;
  Status status = input.OpenStandardInput();
  input.StopSeeking();
  for (;;) {
    std::string piece;
    std::ptrdiff_t got = -1;
    if (status) {
      piece.resize(kPieceBytes);
      got = input.Read(piece.data(), piece.size());
      if (got < 0) status = input.LastError();
    }
    std::unique_lock lock(shared->mutex);
    if (got <= 0) {
      shared->ended = true;
      shared->failure = status;
      shared->changed.notify_all();
      return;
    }
    piece.resize(static_cast<size_t>(got));
    shared->changed.wait(lock, [&] { return shared->pieces.size() < kPiecesAhead || shared->abandoned; });
    if (shared->abandoned) return;
    shared->pieces.push_back(std::move(piece));
    shared->changed.notify_all();
  }
}

bool StopRequested() { return platform::ReceivedInterrupt() != platform::InterruptKind::kNone; }

}  // namespace

CPackageInput::~CPackageInput() {
  if (!m_copy.empty()) platform::RemoveFile(m_copy);
  m_hold.reset();
}

std::wstring CPackageInput::Path() const {
  return FromStandardInput() ? m_copy : PathToWide(PathFromUtf8(m_argument));
}

int CPackageInput::Fetch() {
  if (!FromStandardInput() || !m_copy.empty()) return -1;
  constexpr char kWhat[] = "cannot copy the package from standard input";
  if (platform::StdinIsTerminal()) {
    PrintFailure(kWhat, Status::Error(StatusKind::kInvalidArgument, L"-", 0,
                                      "a terminal; pipe or redirect a package into it"));
    return kExitFailure;
  }
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  if (ec) {
    PrintFailure(kWhat, Status::Error(StatusKind::kIoError, L"", ec.value(),
                                      "no temporary folder: " + ec.message()));
    return kExitFailure;
  }
  // From here on a request to stop waits until the copy is removed.
  m_hold.emplace();
  platform::CBinaryFile file;
  std::vector<std::wstring> names;
  const std::wstring_view extension[] = {L".ldic"};
  if (Status created = CreateExclusiveFiles(PathToWide(folder / "ldic-stdin"), extension, {&file, 1}, &names);
      !created) {
    m_hold.reset();
    PrintWriteFailure(kWhat, created);
    return kExitFailure;
  }
  m_copy = names.front();

  auto shared = std::make_shared<StdinPieces>();
  try {
    std::thread([shared] { ReadStandardInput(shared); }).detach();
  } catch (const std::system_error&) {
    ReadStandardInput(shared);  // no thread to be had: read it all here
  }
  const auto giveUp = [&] {
    {
      std::lock_guard lock(shared->mutex);
      shared->abandoned = true;
    }
    shared->changed.notify_all();
    file.Close();
    platform::RemoveFile(m_copy);
    m_copy.clear();
  };
  uint64_t copied = 0;
  for (;;) {
    std::string piece;
    {
      std::unique_lock lock(shared->mutex);
      // The reader cannot wake this thread for a request to stop: it is looked for often.
      while (shared->pieces.empty() && !shared->ended && !StopRequested())
        shared->changed.wait_for(lock, std::chrono::milliseconds(20));
      if (StopRequested()) {
        lock.unlock();
        giveUp();
        return platform::InterruptExitStatus(platform::ReceivedInterrupt());
      }
      if (shared->pieces.empty()) {
        if (!shared->failure) {
          const Status failure = shared->failure;
          lock.unlock();
          giveUp();
          PrintFailure(kWhat, failure.WithPath(L"-"));
          return kExitFailure;
        }
        break;
      }
      piece = std::move(shared->pieces.front());
      shared->pieces.pop_front();
    }
    shared->changed.notify_all();
    copied += piece.size();
    if (copied > kLargestPackage) {
      giveUp();
      PrintFailure(kWhat, Status::Error(StatusKind::kTooBig, L"-", 0, "more than any package holds (8 GiB)"));
      return kExitFailure;
    }
    if (!file.Write(piece.data(), piece.size())) {
      const Status failure = file.Error();
      giveUp();
      PrintWriteFailure(kWhat, failure);
      return kExitFailure;
    }
  }
  if (Status closed = file.Close(); !closed) {
    giveUp();
    PrintWriteFailure(kWhat, closed);
    return kExitFailure;
  }
  return -1;
}
