#pragma once

// Work orders as tests give them: without real file times, so that what a job
// writes carries times the tests can predict.

#include <cstdint>
#include <filesystem>
#include <string>

#include "core/settings.h"
#include "engine/statistics.h"

namespace plimsy::test {

EpubWorkOrder zipOrder(const std::string& folder, const std::string& epub, std::uint32_t level = 9);
EpubWorkOrder unzipOrder(const std::string& epub, const std::string& folder);

// Zips `folder` into `epub` at `level`; false with `message` when the job fails.
bool zipFolder(const std::filesystem::path& folder, const std::filesystem::path& epub, std::uint32_t level,
               std::string& message, sStatistics* statistics = nullptr);

}  // namespace plimsy::test
