// POSIX side of the network part of the platform layer.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

// The largest UDP payload.
constexpr std::size_t kMaxDatagram = 65536;

volatile std::sig_atomic_t interrupt_flag = 0;

extern "C" void on_interrupt(int) { interrupt_flag = 1; }

std::string socket_reason(int error) {
  switch (error) {
    case EADDRINUSE:
      return "le port est deja utilise par un autre programme";
    case EADDRNOTAVAIL:
      return "cette adresse n'appartient pas a cette machine";
    case EACCES:
      return "port reserve (permission refusee)";
    case ENODEV:
    case ENETUNREACH:
      return "aucune interface reseau pour ce groupe multicast";
    default:
      return errno_reason(error);
  }
}

status failure(std::string_view what, int error) {
  return status::failure(std::string(what), socket_reason(error));
}

}  // namespace

udp_receiver::~udp_receiver() { close(); }

void udp_receiver::close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

status udp_receiver::bind(ipv4_address address, std::uint16_t port) {
  close();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return failure("creation de la socket", errno);
  handle_ = fd;
  const bool group = is_multicast(address);
  if (group) {
    // Several programs may listen to one group on one port.
    const int yes = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0) {
      const int error = errno;
      close();
      return failure("partage du port", error);
    }
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(group ? INADDR_ANY : address);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int error = errno;
    close();
    return failure("ecoute", error);
  }
  if (group) {
    // The default interface and the loopback one: WSJT-X may send the group
    // on either (on the loopback one when the programs share one machine).
    int joined = 0;
    int error = 0;
    const in_addr_t interfaces[] = {INADDR_ANY, INADDR_LOOPBACK};
    for (const in_addr_t on : interfaces) {
      ip_mreq request{};
      request.imr_multiaddr.s_addr = htonl(address);
      request.imr_interface.s_addr = htonl(on);
      if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0) {
        ++joined;
      } else {
        error = errno;
      }
    }
    if (joined == 0) {
      close();
      return failure("adhesion au groupe multicast", error);
    }
  }
  return status::success();
}

status udp_receiver::receive(std::string& datagram, int timeout_ms, bool& received) {
  received = false;
  if (handle_ < 0) return status::failure("reception", "socket fermee");
  if (interrupt_flag != 0) return status::success();
  pollfd wait{static_cast<int>(handle_), POLLIN, 0};
  const int ready = ::poll(&wait, 1, timeout_ms);
  if (ready < 0) {
    if (errno == EINTR) return status::success();
    return failure("attente", errno);
  }
  if (ready == 0) return status::success();
  datagram.resize(kMaxDatagram);
  const ssize_t got = ::recv(static_cast<int>(handle_), datagram.data(), datagram.size(), 0);
  if (got < 0) {
    datagram.clear();
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return status::success();
    return failure("reception", errno);
  }
  datagram.resize(static_cast<std::size_t>(got));
  received = true;
  return status::success();
}

void catch_interrupt() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in poll() ends with EINTR
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool interrupt_requested() { return interrupt_flag != 0; }

}  // namespace velkrin::platform
