#include "library/download/testing/nginx_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef FVX_NGINX_CONF_TEMPLATE
#error "FVX_NGINX_CONF_TEMPLATE must name nginx.conf.in"
#endif

namespace fvx::library::testing {
namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

int FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address = Loopback(0);
  int port = 0;
  socklen_t length = sizeof(address);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool WaitForPort(int port, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < deadline) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in address = Loopback(port);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    if (connected) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

std::string NginxProgram() {
  for (const char* candidate : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

NginxServer::NginxServer() {
  std::string pattern = (std::filesystem::temp_directory_path() / "fvx-nginx-XXXXXX").string();
  if (::mkdtemp(pattern.data()) != nullptr) {
    prefix_ = pattern;
    root_ = prefix_ + "/www";
    std::filesystem::create_directories(root_);
  }
}

NginxServer::~NginxServer() {
  Stop();
  if (!prefix_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(prefix_, ignored);
  }
}

std::string NginxServer::Url(const std::string& name) const {
  return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
}

bool NginxServer::PutFile(const std::string& name, const std::string& bytes, long mtime_offset) {
  std::string path = root_ + "/" + name;
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) return false;
  }
  if (mtime_offset != 0) {
    timespec times[2];
    ::clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec += mtime_offset;
    times[1] = times[0];
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) return false;
  }
  return true;
}

bool NginxServer::Start() {
  std::string program = NginxProgram();
  if (program.empty()) {
    error_ = "nginx is not installed (scripts/install-deps.sh installs nginx-light)";
    return false;
  }
  if (prefix_.empty()) {
    error_ = "cannot make a scratch folder";
    return false;
  }
  std::ifstream in(FVX_NGINX_CONF_TEMPLATE);
  std::stringstream template_text;
  template_text << in.rdbuf();
  if (!in) {
    error_ = std::string("cannot read ") + FVX_NGINX_CONF_TEMPLATE;
    return false;
  }
  // The port was free a moment ago; another process may take it first, so try a few.
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreeLoopbackPort();
    std::string config = template_text.str();
    ReplaceAll(config, "@PREFIX@", prefix_);
    ReplaceAll(config, "@ROOT@", root_);
    ReplaceAll(config, "@PORT@", std::to_string(port_));
    std::string config_path = prefix_ + "/nginx.conf";
    std::ofstream(config_path) << config;
    std::string log_path = prefix_ + "/nginx.out";

    pid_t pid = ::fork();
    if (pid < 0) {
      error_ = "fork failed";
      return false;
    }
    if (pid == 0) {
      int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (log >= 0) {
        ::dup2(log, 1);
        ::dup2(log, 2);
      }
      ::execl(program.c_str(), program.c_str(), "-p", prefix_.c_str(), "-c", config_path.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    pid_ = pid;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      if (WaitForPort(port_, 50)) return true;
    }
    Stop();
    std::ifstream log(log_path);
    std::stringstream text;
    text << log.rdbuf();
    error_ = "nginx did not start: " + text.str();
  }
  return false;
}

void NginxServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace fvx::library::testing
