#include "cli/cli_paths.h"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

Status FromErrorCode(StatusKind kind, const fs::path& path, std::error_code ec) {
  return Status::Error(kind, PathToWide(path), ec.value(), ec.message());
}

}  // namespace

Status WhyUnusable(const fs::path& path, StatusKind kind, bool wantFolder) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (ec) return FromErrorCode(kind, path, ec);
  if (fs::is_directory(status) != wantFolder) {
    return FromErrorCode(kind, path, std::make_error_code(wantFolder ? std::errc::not_a_directory
                                                                     : std::errc::is_a_directory));
  }
  // The file is there: only opening it tells why it cannot be read (no permission, or
  // locked by another program). The C runtime leaves its reason in errno.
  if (!wantFolder) {
    errno = 0;
    std::ifstream probe(path, std::ios::binary);
    if (!probe.is_open() && errno != 0)
      return FromErrorCode(kind, path, std::error_code(errno, std::generic_category()));
  }
  return Status::Error(kind, PathToWide(path));
}
