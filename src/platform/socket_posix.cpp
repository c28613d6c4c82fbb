// POSIX side of the network part of the platform layer.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

// The largest UDP payload.
constexpr std::size_t kMaxDatagram = 65536;

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
  // Each datagram's destination is asked for: a unicast datagram to the
  // port must not pass for one sent to the group.
  const int yes = 1;
  if (::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &yes, sizeof yes) != 0) {
    const int error = errno;
    close();
    return failure("ecoute", error);
  }
  // Bound to the group itself, the socket is not even given the others.
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(address);
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

status udp_receiver::receive(std::string& datagram, int timeout_ms, bool& received,
                             datagram_addresses& addresses) {
  received = false;
  addresses = {};
  if (handle_ < 0) return status::failure("reception", "socket fermee");
  if (interrupt_requested()) return status::success();
  pollfd wait{static_cast<int>(handle_), POLLIN, 0};
  const int ready = ::poll(&wait, 1, timeout_ms);
  if (ready < 0) {
    if (errno == EINTR) return status::success();
    return failure("attente", errno);
  }
  if (ready == 0) return status::success();
  datagram.resize(kMaxDatagram);
  sockaddr_in sender{};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
  iovec piece{datagram.data(), datagram.size()};
  msghdr message{};
  message.msg_name = &sender;
  message.msg_namelen = sizeof sender;
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  const ssize_t got = ::recvmsg(static_cast<int>(handle_), &message, 0);
  if (got < 0) {
    datagram.clear();
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return status::success();
    return failure("reception", errno);
  }
  datagram.resize(static_cast<std::size_t>(got));
  addresses.sender = ntohl(sender.sin_addr.s_addr);
  for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
       part = CMSG_NXTHDR(&message, part)) {
    if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_PKTINFO) {
      in_pktinfo info{};
      std::memcpy(&info, CMSG_DATA(part), sizeof info);
      addresses.destination = ntohl(info.ipi_addr.s_addr);
    }
  }
  received = true;
  return status::success();
}

status local_addresses(std::vector<ipv4_address>& addresses) {
  addresses.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return failure("adresses de cette machine", errno);
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in address{};
    std::memcpy(&address, entry->ifa_addr, sizeof address);
    addresses.push_back(ntohl(address.sin_addr.s_addr));
  }
  ::freeifaddrs(list);
  return status::success();
}

}  // namespace velkrin::platform
