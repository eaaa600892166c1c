// plimsy-cli told to stop in the middle of a long job (Ctrl-C, SIGTERM,
// SIGHUP): the job's work file or folder is removed, the old epub or folder
// is left as it was, and the exit status is 128 + the signal.
//
// The jobs are long by their size (a book of incompressible data deflated at
// level 9 on one thread; an entry that inflates to gigabytes), and the signal
// is sent as soon as the job's work file or folder appears: the job has
// begun, and is far from done.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/file_tree.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace plimsy {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// Bytes that no deflate level can shrink (a xorshift generator's output).
std::string incompressibleBytes(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    for (int b = 0; b < 8; ++b) bytes[i + b] = static_cast<char>(state >> (8 * b));
  }
  return bytes;
}

// An entry of `mebibytes` MiB of zeros, deflated: about a thousandth of
// that in the archive. The stream is one deflated MiB repeated (each copy
// starts afresh after a full flush), then an empty final block.
test::EntryPlan zerosEntry(std::string name, std::uint32_t mebibytes) {
  const std::string zeros(std::size_t{1} << 20, '\0');
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string piece(deflateBound(&stream, zeros.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
  stream.avail_in = static_cast<uInt>(zeros.size());
  stream.next_out = reinterpret_cast<Bytef*>(piece.data());
  stream.avail_out = static_cast<uInt>(piece.size());
  deflate(&stream, Z_FULL_FLUSH);
  piece.resize(piece.size() - stream.avail_out);
  deflateEnd(&stream);
  const uLong pieceCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
  test::EntryPlan entry;
  entry.name = std::move(name);
  entry.method = kMethodDeflated;
  uLong crc = 0;
  for (std::uint32_t i = 0; i < mebibytes; ++i) {
    entry.data += piece;
    crc = crc32_combine(crc, pieceCrc, static_cast<z_off_t>(zeros.size()));
  }
  entry.data += std::string("\x03\x00", 2);  // the final block, empty
  entry.crc = static_cast<std::uint32_t>(crc);
  entry.uncompressedSize = std::uint64_t{mebibytes} << 20;
  return entry;
}

// The work of a running job: a tempN.zip or tempN folder in `folder`.
bool holdsWork(const fs::path& folder) {
  std::error_code error;
  for (const fs::directory_entry& item : fs::directory_iterator(folder, error))
    if (item.path().filename().string().starts_with("temp")) return true;
  return false;
}

struct sStoppedRun {
  bool workSeen = false;  // the job's work appeared before the signal was sent
  int status = -1;        // the exit status; -1 when a signal ended the program
  std::string output;
};

// Runs plimsy-cli in `folder`, sends `signal` once the job's work is there,
// and waits for the program to end.
sStoppedRun runAndStop(const fs::path& folder, const std::vector<std::string>& arguments, int signal) {
  sStoppedRun run;
  const fs::path outputFile = folder / "output.txt";
  std::vector<std::string> words{PLIMSY_CLI_EXECUTABLE};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    // As a shell starts a program in the foreground: the stop signals at
    // their default, none blocked (whatever the test runner set).
    for (const int each : {SIGINT, SIGTERM, SIGHUP}) ::signal(each, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::chdir(folder.c_str()) != 0 || !std::freopen("/dev/null", "r", stdin) ||
        !std::freopen(outputFile.c_str(), "w", stdout) || ::dup2(STDOUT_FILENO, STDERR_FILENO) < 0)
      ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (child < 0) return run;
  int status = 0;
  for (;;) {
    if (holdsWork(folder)) {
      run.workSeen = true;
      ::kill(child, signal);
      break;
    }
    const pid_t ended = ::waitpid(child, &status, WNOHANG);
    if (ended == child) break;  // ended before its work appeared
    std::this_thread::yield();
  }
  if (run.workSeen) {
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.output = readFile(outputFile);
  fs::remove(outputFile);
  return run;
}

class StopRequest : public ::testing::Test {
 protected:
  // Made once: a book of 96 MiB that does not compress, the same book stored
  // in an epub, and an epub whose one big entry inflates to 3.5 GiB.
  static void SetUpTestSuite() {
    shared_ = new test::TempDir;
    const fs::path book = shared_->path() / "book";
    writeFile(book / "mimetype", "application/epub+zip");
    writeFile(book / "OEBPS" / "noise.bin", incompressibleBytes(std::size_t{96} << 20));
    const std::string stored = test::buildArchive(
        test::planOf({test::storedEntry("mimetype", "application/epub+zip"),
                      test::storedEntry("OEBPS/noise.bin", readFile(book / "OEBPS" / "noise.bin"))}));
    writeFile(shared_->path() / "stored.epub", stored);
    const std::string zeros = test::buildArchive(
        test::planOf({test::storedEntry("mimetype", "application/epub+zip"), zerosEntry("OEBPS/zeros.bin", 3500)}));
    writeFile(shared_->path() / "zeros.epub", zeros);
  }
  static void TearDownTestSuite() {
    delete shared_;
    shared_ = nullptr;
  }

  static test::TempDir* shared_;
  test::TempDir dir;
};

test::TempDir* StopRequest::shared_ = nullptr;

TEST_F(StopRequest, LongJobsStopCleanlyKeepingTheOldWork) {
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    int signal;
    int status;
  } cases[] = {
      {"zip, Ctrl-C", {"zip", "book", "old.epub", "--threads", "1", "--no-backup"}, SIGINT, 130},
      {"zip, SIGTERM", {"zip", "book", "old.epub", "--threads", "1", "--no-backup"}, SIGTERM, 143},
      {"unzip, Ctrl-C", {"unzip", "zeros.epub", "old", "--no-backup"}, SIGINT, 130},
      {"unzip, SIGHUP", {"unzip", "zeros.epub", "old", "--no-backup"}, SIGHUP, 129},
      {"repack, Ctrl-C", {"repack", "old.epub", "--level", "9", "--no-backup"}, SIGINT, 130},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = dir.path() / "run";
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::create_directory_symlink(shared_->path() / "book", folder / "book");
    fs::create_symlink(shared_->path() / "zeros.epub", folder / "zeros.epub");
    fs::copy_file(shared_->path() / "stored.epub", folder / "old.epub");
    writeFile(folder / "old" / "chapter.xhtml", "the old folder");
    const auto before = test::listTree(folder);
    const std::string oldEpub = readFile(folder / "old.epub");

    const sStoppedRun run = runAndStop(folder, c.arguments, c.signal);
    ASSERT_TRUE(run.workSeen) << run.output;
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_NE(run.output.find("The job was stopped before it was finished."), std::string::npos) << run.output;
    EXPECT_FALSE(holdsWork(folder));
    EXPECT_EQ(test::listTree(folder), before);
    EXPECT_EQ(readFile(folder / "old.epub"), oldEpub);
    EXPECT_EQ(readFile(folder / "old" / "chapter.xhtml"), "the old folder");
  }
}

}  // namespace
}  // namespace plimsy
