// What the tests of the live log need around the program: a free UDP port,
// the program run in the background until Ctrl-C, and a sender of datagrams
// from a chosen address of the loopback interface. POSIX only.
#pragma once

#include <sys/types.h>
#include <cstdint>
#include <string>
#include <vector>

namespace velkrin::testing {

// A UDP port of the loopback interface that was free a moment ago; 0 when
// none could be found.
std::uint16_t free_udp_port();

// `command` running in `folder`, its standard output and error going to
// out.txt and err.txt there; stopped with Ctrl-C.
class background_program {
 public:
  background_program(const std::vector<std::string>& command, const std::string& folder);
  ~background_program();
  background_program(const background_program&) = delete;
  background_program& operator=(const background_program&) = delete;

  pid_t pid() const { return child_; }
  // What it wrote so far, as written, and without CR (Windows line ends).
  std::string raw_out() const;
  std::string raw_err() const;
  std::string out() const;
  std::string err() const;
  // True once `text` is in err.txt (or out.txt), within 15 seconds.
  bool wait_for(const std::string& text, bool in_out = false) const;
  // Ctrl-C; the exit status, or -1 when the program did not exit by itself.
  int stop();

 private:
  std::string folder_;
  pid_t child_ = -1;
};

// Sends datagrams from `from` (an address of the loopback interface),
// multicast going out on the loopback interface.
class datagram_sender {
 public:
  explicit datagram_sender(const char* from = "127.0.0.1");
  ~datagram_sender();
  datagram_sender(const datagram_sender&) = delete;
  datagram_sender& operator=(const datagram_sender&) = delete;

  void send(const std::string& bytes, const char* to, std::uint16_t port) const;

 private:
  int socket_;
};

}  // namespace velkrin::testing
