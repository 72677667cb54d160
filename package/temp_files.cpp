#include "package/temp_files.h"

#include "core/convert_job.h"
#include "platform/file_system.h"

bool DeleteTempFiles(const CConvertJob& job) {
  // A file that does not exist counts as deleted; the second file is tried even when
  // the first could not be deleted.
  bool result = true;
  if (platform::PathExists(job.m_desPath)) result = platform::RemoveFile(job.m_desPath);
  if (job.m_compress && platform::PathExists(job.m_dzPath))
    result = platform::RemoveFile(job.m_dzPath) && result;
  return result;
}
