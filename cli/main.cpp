// plimsy-cli: Plimsy's jobs from a terminal, for scripts and book pipelines.

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/check_command.h"
#include "cli/commands.h"
#include "cli/datetime_option.h"
#include "cli/help_text.h"
#include "cli/terminal_text.h"
#include "core/platform.h"
#include "engine/zip_writer.h"
#include "version.h"

namespace {

using plimsy::cli::JobOptions;

// Options shared by zip and unzip.
void addJobOptions(CLI::App& command, JobOptions& options) {
  command
      .add_option("--datetime", options.datetime,
                  "Stamp every written file with this time: YYYY-MM-DD[Thh:mm:ss][Z] (local time without Z), "
                  "from 1980 to 2107")
      ->check(CLI::Validator(plimsy::cli::datetimeOptionProblem, "DATETIME"));
  auto* backupDir = command.add_option("--backup-dir", options.backupDir,
                                       "Put the backup of overwritten work in this folder (default: beside it)");
  command.add_flag("--no-backup", options.noBackup, "Do not keep a backup of overwritten work")->excludes(backupDir);
  command.add_flag("--no-real-times", options.noRealTimes,
                   "Leave the times of the result alone instead of stamping the current time");
  command.add_flag("-q,--quiet", options.quiet, "Print nothing on success");
}

// CLI11's help with its descriptions wrapped, so that no line is longer than
// an 80-column console.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(plimsy::cli::kHelpColumn); }

  std::string make_description(const CLI::App* app) const override {
    std::string description = CLI::Formatter::make_description(app);
    if (!description.empty() && description.back() == '\n') description.pop_back();
    return description.empty() ? description : plimsy::cli::wrapWords(description, plimsy::cli::kHelpWidth) + "\n";
  }

  std::string make_subcommand(const CLI::App* command) const override {
    std::ostringstream out;
    CLI::detail::format_help(out, command->get_display_name(true), wrapped(command->get_description()),
                             get_column_width());
    return out.str();
  }

  std::string make_option_desc(const CLI::Option* option) const override {
    return wrapped(CLI::Formatter::make_option_desc(option));
  }

 private:
  std::string wrapped(const std::string& description) const {
    return plimsy::cli::wrapWords(description, plimsy::cli::kHelpWidth - get_column_width());
  }
};

// Prints the usage error, the help or the version that ended the parse (the
// arguments it quotes may hold anything); 0 for help and version, 2 otherwise.
int printParseError(const CLI::App& app, const CLI::ParseError& error) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = app.exit(error, out, err);
  plimsy::cli::printEscaped(stdout, out.str());
  plimsy::cli::printEscaped(stderr, err.str());
  return code == 0 ? 0 : 2;
}

// A usage error of our own wording, as CLI11 prints its own.
int printUsageError(const std::string& message) {
  plimsy::cli::printEscaped(stderr, message + "\nRun with --help for more information.\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Plimsy: packs a book folder into an epub, unpacks an epub, and analyses any ZIP archive.",
               "plimsy-cli"};
  // Before the commands are added: each takes its formatter from here.
  app.formatter(std::make_shared<HelpFormatter>());
  app.set_version_flag("--version", std::string("plimsy-cli ") + plimsy::kDisplayVersion + " (file version " +
                                        plimsy::kFileVersion + ")");
  app.require_subcommand(1);
  // Options are written --name on every system: a path such as /books/x.epub
  // (from the current drive's root, on Windows) is never taken for one.
  app.allow_windows_style_options(false);

  JobOptions zip;
  CLI::App* zipCommand = app.add_subcommand("zip", "Pack a book folder into an epub (mimetype first and stored)");
  zipCommand->add_option("FILES_FOLDER", zip.source, "The book folder to pack")->required();
  zipCommand->add_option("EPUB", zip.target, "The epub to write (default: book1.epub beside the folder)");
  zipCommand->add_option("--level", zip.level, "Deflate level: 0 stores everything, 9 compresses most (default 9)")
      ->check(CLI::Range(0u, 9u));
  zipCommand
      ->add_option("--threads", zip.threads,
                   "Threads that read and compress files: 1 does one file after the other (default: the "
                   "processor's cores, at most 8); the epub is the same whatever the number")
      ->check(CLI::Range(1u, plimsy::kMostDefaultZipThreads));
  zipCommand->add_flag("--deflate-compressed", zip.deflateCompressed,
                       "Deflate images, audio and video too (they are stored by default)");
  addJobOptions(*zipCommand, zip);

  JobOptions unzip;
  CLI::App* unzipCommand = app.add_subcommand("unzip", "Unpack an epub into a folder");
  unzipCommand->add_option("EPUB", unzip.source, "The epub to unpack")->required();
  unzipCommand->add_option("FILES_FOLDER", unzip.target, "The folder to make (default: files1 beside the epub)");
  addJobOptions(*unzipCommand, unzip);

  JobOptions analyze;
  CLI::App* analyzeCommand = app.add_subcommand("analyze", "Write a log of every record of a ZIP archive");
  analyzeCommand->add_option("EPUB", analyze.source, "The epub or ZIP archive to analyse")->required();
  analyzeCommand->add_option("--log", analyze.logPath,
                             "The log to write (default: analysis.txt in the temporary-files folder)");
  analyzeCommand->add_flag("-q,--quiet", analyze.quiet, "Print nothing on success");

  JobOptions repack;
  CLI::App* repackCommand = app.add_subcommand(
      "repack",
      "Rewrite an epub into a sound container: mimetype first, stored and exact; the other entries' data "
      "copied as it is");
  repackCommand->add_option("EPUB", repack.source, "The epub (or ZIP archive) to repack")->required();
  repackCommand->add_option("OUT", repack.target, "The epub to write (default: the epub itself)");
  repackCommand
      ->add_option("--level", repack.level,
                   "Compress every entry again at this level, as zip does (0 stores everything, 9 compresses most); "
                   "by default the compressed data is copied as it is")
      ->check(CLI::Range(0u, 9u));
  auto* repackBackupDir = repackCommand->add_option(
      "--backup-dir", repack.backupDir, "Put the backup of the replaced epub in this folder (default: beside it)");
  repackCommand->add_flag("--no-backup", repack.noBackup, "Do not keep a backup of the replaced epub")
      ->excludes(repackBackupDir);
  repackCommand->add_flag("-q,--quiet", repack.quiet, "Print nothing on success");

  plimsy::cli::CheckOptions check;
  CLI::App* checkCommand = app.add_subcommand(
      "check",
      "Report every fault of an epub's container (mimetype, container.xml, entry names, duplicates, encryption, "
      "damaged records), package document and navigation without unpacking it; exits with 1 when a fault is an "
      "error");
  checkCommand->add_option("EPUB", check.epub, "The epub to check")->required();
  checkCommand->add_option("--format", check.format, "text (one finding per line) or json (default text)")
      ->check(CLI::IsMember({"text", "json"}));
  checkCommand->add_flag(
      "--deep", check.deep,
      "Also inflate every entry and check its length and CRC-32, and read every content document and its links");
  checkCommand->add_flag("-q,--quiet", check.quiet, "Print only the findings, without the count at the end");

  // The arguments as UTF-8 on every system, in an argv of our own for the parser.
  plimsy::platform::useUtf8StandardStreams();
  std::vector<std::string> arguments = plimsy::platform::commandLineArguments(argc, argv);
  std::vector<char*> words;
  for (std::string& argument : arguments) words.push_back(argument.data());
  words.push_back(nullptr);
  try {
    app.parse(static_cast<int>(arguments.size()), words.data());
  } catch (const CLI::ExtrasError&) {
    // CLI11 lists them last first; what was left over is kept in the order given.
    return printUsageError(plimsy::cli::unexpectedArgumentsText(app.remaining(true)));
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() != static_cast<int>(CLI::ExitCodes::Success) && app.get_subcommands().empty()) {
      std::vector<std::string> commands;
      for (const CLI::App* command : app.get_subcommands({})) commands.push_back(command->get_name());
      std::vector<std::string> given;  // without the program's name
      if (!arguments.empty()) given.assign(arguments.begin() + 1, arguments.end());
      const std::string unknown = plimsy::cli::unknownCommand(given, commands);
      if (!unknown.empty()) return printUsageError("Unknown command: " + unknown);
    }
    return printParseError(app, e);
  }
  // The check writes nothing: Ctrl-C ends it as it ends any program.
  if (checkCommand->parsed()) return plimsy::cli::runCheck(check);

  plimsy::cli::stopJobsOnRequest();
  int status = 0;
  if (zipCommand->parsed()) {
    if (!zip.quiet) plimsy::cli::printBookFolderWarnings(zip.source);
    status = plimsy::cli::runZip(zip);
  } else if (unzipCommand->parsed()) {
    status = plimsy::cli::runUnzip(unzip);
  } else if (repackCommand->parsed()) {
    status = plimsy::cli::runRepack(repack);
  } else {
    status = plimsy::cli::runAnalyze(analyze);
  }
  return plimsy::cli::exitStatusAfter(status);
}
