// plimsy-cli: Plimsy's jobs from a terminal, for scripts and book pipelines.

#include <cstdio>
#include <string>

#include <CLI/CLI.hpp>

#include "version.h"

int main(int argc, char** argv) {
  CLI::App app{"Plimsy: packs a book folder into an epub, unpacks an epub, and analyses any ZIP archive.",
               "plimsy-cli"};
  app.set_version_flag("--version", std::string("plimsy-cli ") + plimsy::kDisplayVersion + " (file version " +
                                        plimsy::kFileVersion + ")");
  app.require_subcommand(0, 1);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return e.get_exit_code() == 0 ? 0 : (code == 0 ? 0 : 2);
  }
  if (app.get_subcommands().empty()) {
    std::fputs(app.help().c_str(), stdout);
  }
  return 0;
}
