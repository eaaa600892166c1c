#pragma once

// The jobs of plimsy-cli. Each starts from the default settings, applies the
// command line's options, runs the same request checks as the window (an
// omitted output path accepts the offer to choose one), runs the job and
// prints the same success text. Exit codes: 0 success, 1 failure (the job's
// message on standard error), 128 + the signal when the program was told to
// stop (130 for Ctrl-C).

#include <optional>
#include <string>

namespace plimsy::cli {

struct JobOptions {
  std::string source;  // files folder for zip; epub for unzip and analyze
  std::string target;  // epub for zip; files folder for unzip; may be empty
  std::optional<unsigned> level;
  std::optional<unsigned> threads;  // zip only; default: the machine's cores (at most 8)
  bool deflateCompressed = false;
  std::string datetime;
  std::string backupDir;
  bool noBackup = false;
  bool noRealTimes = false;
  bool quiet = false;
  std::string logPath;  // analyze only
};

int runZip(const JobOptions& options);
int runUnzip(const JobOptions& options);
int runAnalyze(const JobOptions& options);
// Rewrites options.source into a sound epub container at options.target
// (default: in its place), keeping a backup of the file it replaces unless
// told not to.
int runRepack(const JobOptions& options);

// From now on a request to stop (Ctrl-C, SIGTERM, SIGHUP; on Windows the
// console's Ctrl-C and close events) stops the running job as quitting the
// window does: it fails, removing its work file or folder, and the old epub
// or folder stays as it was. A second request ends the program at once.
void stopJobsOnRequest();

// The program's exit status for a command that ended with `status`: 128 + the
// signal when a request to stop came (once every stopped job's work is gone),
// else `status`.
int exitStatusAfter(int status);

// A command-line path made absolute against the current folder (a trailing
// separator is kept); empty stays empty.
std::string absoluteFromCommandLine(const std::string& path);

}  // namespace plimsy::cli
