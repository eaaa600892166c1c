#include "support/work_orders.h"

#include "core/paths.h"
#include "engine/zip_job.h"

namespace plimsy::test {

EpubWorkOrder zipOrder(const std::string& folder, const std::string& epub, std::uint32_t level) {
  EpubWorkOrder order;
  order.DoWhat = kDoWhatZip;
  order.FilesDir = folder;
  order.ZipPath = epub;
  order.CompressionLevel = level;
  order.RealFileCreationTimes = false;
  return order;
}

EpubWorkOrder unzipOrder(const std::string& epub, const std::string& folder) {
  EpubWorkOrder order;
  order.DoWhat = kDoWhatUnzip;
  order.ZipPath = epub;
  order.FilesDir = folder;
  order.RealFileCreationTimes = false;
  return order;
}

bool zipFolder(const std::filesystem::path& folder, const std::filesystem::path& epub, std::uint32_t level,
               std::string& message, sStatistics* statistics) {
  sStatistics ignored;
  return zipJob(zipOrder(utf8FromPath(folder), utf8FromPath(epub), level), &message,
                statistics ? *statistics : ignored);
}

}  // namespace plimsy::test
