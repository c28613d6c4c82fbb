// Windows side of the network part of the platform layer (Winsock 2, linked
// with ws2_32; the interfaces' addresses from the IP helper, iphlpapi).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
// After winsock2.h, which they need.
#include <windows.h>
#include <ws2tcpip.h>
// After winsock2.h and ws2tcpip.h, which they need.
#include <iphlpapi.h>
#include <mswsock.h>

#include <cstring>
#include <vector>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

constexpr std::size_t kMaxDatagram = 65536;

std::string socket_reason(int error) {
  switch (error) {
    case WSAEADDRINUSE:
      return "le port est deja utilise par un autre programme";
    case WSAEADDRNOTAVAIL:
      return "cette adresse n'appartient pas a cette machine";
    case WSAEACCES:
      return "port reserve (permission refusee)";
    case WSAENETDOWN:
    case WSAENETUNREACH:
      return "aucune interface reseau pour ce groupe multicast";
    case WSAEMFILE:
      return "trop de sockets ouvertes";
    default:
      return "erreur reseau " + std::to_string(error);
  }
}

status failure(std::string_view what, int error) {
  return status::failure(std::string(what), socket_reason(error));
}

// Winsock is started once, on first use, and left to the end of the process.
status start_winsock() {
  static const int started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
  }();
  if (started != 0) return failure("demarrage du reseau", started);
  return status::success();
}

SOCKET as_socket(std::intptr_t handle) { return static_cast<SOCKET>(handle); }

// WSARecvMsg, the one receive that tells a datagram's destination, is found
// through the socket.
LPFN_WSARECVMSG receive_message_function(SOCKET s) {
  static LPFN_WSARECVMSG function = nullptr;
  if (function == nullptr) {
    GUID id = WSAID_WSARECVMSG;
    DWORD bytes = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &bytes, nullptr, nullptr) != 0) {
      function = nullptr;
    }
  }
  return function;
}

}  // namespace

udp_receiver::~udp_receiver() { close(); }

void udp_receiver::close() {
  if (handle_ != -1) ::closesocket(as_socket(handle_));
  handle_ = -1;
}

status udp_receiver::bind(ipv4_address address, std::uint16_t port) {
  close();
  if (const status started = start_winsock(); !started.ok()) return started;
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return failure("creation de la socket", WSAGetLastError());
  handle_ = static_cast<std::intptr_t>(s);
  const bool group = is_multicast(address);
  if (group) {
    // Several programs may listen to one group on one port.
    const BOOL yes = TRUE;
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes),
                     sizeof yes) != 0) {
      const int error = WSAGetLastError();
      close();
      return failure("partage du port", error);
    }
  } else {
    // No other program may take the port over while it is ours.
    const BOOL yes = TRUE;
    ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
                 sizeof yes);
  }
  // Each datagram's destination is asked for: a unicast datagram to the
  // port must not pass for one sent to the group (Windows binds a group's
  // port on every address).
  const DWORD with_destination = TRUE;
  if (::setsockopt(s, IPPROTO_IP, IP_PKTINFO, reinterpret_cast<const char*>(&with_destination),
                   sizeof with_destination) != 0 ||
      receive_message_function(s) == nullptr) {
    const int error = WSAGetLastError();
    close();
    return failure("ecoute", error);
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(group ? INADDR_ANY : address);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    const int error = WSAGetLastError();
    close();
    return failure("ecoute", error);
  }
  if (group) {
    // The default interface and the loopback one: WSJT-X may send the group
    // on either (on the loopback one when the programs share one machine).
    int joined = 0;
    int error = 0;
    const u_long interfaces[] = {INADDR_ANY, INADDR_LOOPBACK};
    for (const u_long on : interfaces) {
      ip_mreq request{};
      request.imr_multiaddr.s_addr = htonl(address);
      request.imr_interface.s_addr = htonl(on);
      if (::setsockopt(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                       sizeof request) == 0) {
        ++joined;
      } else {
        error = WSAGetLastError();
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
  if (handle_ == -1) return status::failure("reception", "socket fermee");
  // Short waits, so that a Ctrl-C seen by the console handler (another
  // thread) ends the wait soon.
  constexpr int kSliceMs = 100;
  for (int waited = 0; waited < timeout_ms && !interrupt_requested(); waited += kSliceMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(as_socket(handle_), &readable);
    const int slice = timeout_ms - waited < kSliceMs ? timeout_ms - waited : kSliceMs;
    timeval wait{0, slice * 1000};
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAEINTR) return status::success();
      return failure("attente", error);
    }
    if (ready == 0) continue;
    datagram.resize(kMaxDatagram);
    sockaddr_in sender{};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
    WSABUF piece{static_cast<ULONG>(datagram.size()), datagram.data()};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&sender);
    message.namelen = sizeof sender;
    message.lpBuffers = &piece;
    message.dwBufferCount = 1;
    message.Control = WSABUF{sizeof control, control};
    DWORD got = 0;
    if (receive_message_function(as_socket(handle_))(as_socket(handle_), &message, &got, nullptr,
                                                     nullptr) == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      datagram.clear();
      // An ICMP "port unreachable" after a send of ours, or a datagram cut
      // to the buffer: nothing to read, or nothing worth reading.
      if (error == WSAECONNRESET || error == WSAEMSGSIZE || error == WSAEWOULDBLOCK) {
        return status::success();
      }
      return failure("reception", error);
    }
    datagram.resize(static_cast<std::size_t>(got));
    addresses.sender = ntohl(sender.sin_addr.s_addr);
    for (WSACMSGHDR* part = WSA_CMSG_FIRSTHDR(&message); part != nullptr;
         part = WSA_CMSG_NXTHDR(&message, part)) {
      if (part->cmsg_level == IPPROTO_IP && part->cmsg_type == IP_PKTINFO) {
        IN_PKTINFO info{};
        std::memcpy(&info, WSA_CMSG_DATA(part), sizeof info);
        addresses.destination = ntohl(info.ipi_addr.s_addr);
      }
    }
    received = true;
    return status::success();
  }
  return status::success();
}

status local_addresses(std::vector<ipv4_address>& addresses) {
  addresses.clear();
  // The list's size is known only by asking; it may grow between two calls.
  std::vector<unsigned char> buffer(16 * 1024);
  ULONG size = 0;
  ULONG result = ERROR_BUFFER_OVERFLOW;
  for (int tries = 0; tries < 4 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    size = static_cast<ULONG>(buffer.size());
    result = GetAdaptersAddresses(
        AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
        nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) buffer.resize(size);
  }
  // No adapter: the buffer holds nothing to read, whatever a failed call
  // before left in it.
  const bool none = result == ERROR_NO_DATA;
  if (result != NO_ERROR && !none) {
    return status::failure("adresses de cette machine", "erreur " + std::to_string(result));
  }
  if (!none && size > 0) {
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
           unicast = unicast->Next) {
        const SOCKET_ADDRESS& where = unicast->Address;
        if (where.lpSockaddr == nullptr || where.lpSockaddr->sa_family != AF_INET) continue;
        sockaddr_in address{};
        std::memcpy(&address, where.lpSockaddr, sizeof address);
        addresses.push_back(ntohl(address.sin_addr.s_addr));
      }
    }
  }
  // The loopback address is this machine's on every Windows, listed or not.
  addresses.push_back(INADDR_LOOPBACK);
  return status::success();
}

}  // namespace velkrin::platform
