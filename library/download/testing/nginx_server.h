// nginx from the system, started on a free port of 127.0.0.1 with the
// repository's configuration (nginx.conf.in beside this file), serving a
// scratch folder. Stopped (and its folder removed) by the destructor.
#pragma once

#include <sys/types.h>
#include <string>

namespace fvx::library::testing {

// A port that was free a moment ago on 127.0.0.1.
int FreeLoopbackPort();
// True once something accepts connections on 127.0.0.1:port (waits up to timeout_ms).
bool WaitForPort(int port, int timeout_ms);

class NginxServer {
 public:
  NginxServer();
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  // Starts nginx; false (with Error()) when it is not installed or does not come up.
  bool Start();
  void Stop();

  int port() const { return port_; }
  const std::string& root() const { return root_; }
  const std::string& Error() const { return error_; }
  std::string Url(const std::string& name) const;

  // Writes a file into the served folder; mtime_offset moves its modification
  // time away from now (so a rewrite gets another ETag and Last-Modified).
  bool PutFile(const std::string& name, const std::string& bytes, long mtime_offset = 0);

 private:
  std::string prefix_;
  std::string root_;
  std::string error_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// The path of the nginx program, or "" when it is not installed.
std::string NginxProgram();

}  // namespace fvx::library::testing
