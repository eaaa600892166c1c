#pragma once

// The check of --datetime, made while the command line is read, so that a
// wrong value is a usage error before anything is created (a backup folder, a
// work file).

#include <string>

namespace plimsy::cli {

// Empty when `text` is a datetime that parseDatetime reads and that the DOS
// date and time fields of a ZIP entry can hold: from 1980-01-01T00:00:00Z to
// 2107-12-31T23:59:58Z, compared in UTC, since entries carry UTC there (a
// local time counts by its zone's offset on that date). Otherwise what is
// wrong, for the usage error. An empty text is wrong too: the option was
// given without a value.
std::string datetimeOptionProblem(const std::string& text);

}  // namespace plimsy::cli
