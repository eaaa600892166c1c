// The system calls of the tests' support on POSIX.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "support/process.h"
#include "support/special_files.h"

namespace plimsy::test {

bool makePipe(const std::filesystem::path& path) {
  std::filesystem::create_directories(path.parent_path());
  return ::mkfifo(path.c_str(), 0600) == 0;
}

bool makeSocket(const std::filesystem::path& path) {
  std::filesystem::create_directories(path.parent_path());
  sockaddr_un address{};
  if (path.native().size() >= sizeof address.sun_path) return false;
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return bound;
}

std::unique_ptr<HeldFile> holdWithoutSharing(const std::filesystem::path&) { return nullptr; }

// Starting a program: fork, change folder, exec; both output streams into one
// pipe.

ProgramRun runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                      const std::filesystem::path& folder) {
  ProgramRun run;
  int fds[2];
  if (::pipe(fds) != 0) return run;
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int nothing = ::open("/dev/null", O_RDONLY);
    ::dup2(nothing, 0);
    ::dup2(fds[1], 1);
    ::dup2(fds[1], 2);
    ::close(fds[0]);
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  if (child < 0) {
    ::close(fds[0]);
    return run;
  }
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer.data(), buffer.size());
    if (n > 0) {
      run.output.append(buffer.data(), static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace plimsy::test
