#include "support/live_programs.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/temp_folder.hpp"

namespace velkrin::testing {

std::uint16_t free_udp_port() {
  const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    address.sin_port = 0;
  }
  ::close(probe);  // the port is free again, for the program to take
  return ntohs(address.sin_port);
}

background_program::background_program(const std::vector<std::string>& command,
                                       const std::string& folder)
    : folder_(folder) {
  // No message of an earlier run may be taken for one of this run.
  std::filesystem::remove(folder + "/out.txt");
  std::filesystem::remove(folder + "/err.txt");
  child_ = ::fork();
  if (child_ == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::dup2(::open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
    ::dup2(::open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
    std::vector<char*> argv;
    for (const auto& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
}

background_program::~background_program() {
  if (child_ > 0) stop();
}

std::string background_program::raw_out() const { return read_file(folder_ + "/out.txt"); }
std::string background_program::raw_err() const { return read_file(folder_ + "/err.txt"); }

std::string background_program::out() const {
  std::string text = raw_out();
  std::erase(text, '\r');
  return text;
}

std::string background_program::err() const {
  std::string text = raw_err();
  std::erase(text, '\r');
  return text;
}

bool background_program::wait_for(const std::string& text, bool in_out) const {
  for (int tries = 0; tries < 300; ++tries) {
    if ((in_out ? out() : err()).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

int background_program::stop() {
  ::kill(child_, SIGINT);
  int status = 0;
  const bool ended = ::waitpid(child_, &status, 0) == child_;
  child_ = -1;
  return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

datagram_sender::datagram_sender(const char* from) : socket_(::socket(AF_INET, SOCK_DGRAM, 0)) {
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, from, &local.sin_addr);
  ::bind(socket_, reinterpret_cast<sockaddr*>(&local), sizeof local);
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  ::setsockopt(socket_, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
}

datagram_sender::~datagram_sender() { ::close(socket_); }

void datagram_sender::send(const std::string& bytes, const char* to, std::uint16_t port) const {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, to, &address.sin_addr);
  ::sendto(socket_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&address),
           sizeof address);
}

}  // namespace velkrin::testing
