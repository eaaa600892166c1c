#pragma once

// One running instance per user. The first instance holds a lock file and
// listens on a local socket, both in the user's runtime folder and named
// after kInstanceGuid and the user id. A later start connects first: when
// the running instance answers the instance query (within 200 ms) with the
// query's id, it is asked to restore and raise its window, and the later
// start ends quietly with exit code 0.
//
// A crashed instance leaves its socket and lock file behind: the socket then
// refuses connections and the lock names a process that is gone, so the
// next start takes both over.
//
// Protocol (one line each): the later start sends "query"; the running
// instance answers with the message result of its window's instance query
// in decimal; the later start then sends "open <path>" when it was given a
// path (absolute, UTF-8, percent-encoded so that any byte fits on the line),
// and "restore". A running instance ignores lines it does not know.

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plimsy::ui {

// How long a later start waits for the running instance's answer.
inline constexpr int kInstanceQueryTimeoutMs = 200;

// The folder of the lock and the socket: the user's runtime folder
// ($XDG_RUNTIME_DIR), else the settings folder. Empty when neither is known.
QString instanceFolder();

// kInstanceGuid, "-" and the user id.
QString instanceName(const QString& folder);

class cSingleInstance {
 public:
  enum class eRole { First, Forwarded };

  // The instance query, the raise request and a path handed on, answered on
  // the GUI thread: the query returns the window's message result (0 when
  // there is no window).
  struct sHandlers {
    std::function<std::intptr_t()> query;
    std::function<void()> restore;
    std::function<void(const std::string&)> open;
  };

  explicit cSingleInstance(QString folder = instanceFolder());
  ~cSingleInstance();
  cSingleInstance(const cSingleInstance&) = delete;
  cSingleInstance& operator=(const cSingleInstance&) = delete;

  // Connects to a running instance (query, then open `path` unless it is
  // empty, then restore) and reports Forwarded, or takes the lock, listens
  // and reports First. When the lock is held by a live instance that does not
  // answer, the start is Forwarded as well: two instances never run. Without
  // a folder the start is First.
  eRole start(const std::string& path = {});

  // What the first instance answers with (set before the event loop runs).
  void setHandlers(sHandlers handlers) { handlers_ = std::move(handlers); }

  QString serverPath() const { return serverPath_; }
  QString lockPath() const { return lockPath_; }

 private:
  bool forwardToRunningInstance(const std::string& path);
  void serve(class QLocalSocket* socket);

  QString serverPath_;
  QString lockPath_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
  sHandlers handlers_;
};

}  // namespace plimsy::ui
