// Windows side of the network part of the platform layer (Winsock 2, linked
// with ws2_32).
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

#include <atomic>

#include "platform/platform.hpp"

namespace velkrin::platform {
namespace {

constexpr std::size_t kMaxDatagram = 65536;

std::atomic<bool> interrupt_flag{false};

BOOL WINAPI on_console_event(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    interrupt_flag = true;
    return TRUE;
  }
  return FALSE;
}

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

status udp_receiver::receive(std::string& datagram, int timeout_ms, bool& received) {
  received = false;
  if (handle_ == -1) return status::failure("reception", "socket fermee");
  // Short waits, so that a Ctrl-C seen by the console handler (another
  // thread) ends the wait soon.
  constexpr int kSliceMs = 100;
  for (int waited = 0; waited < timeout_ms && !interrupt_flag; waited += kSliceMs) {
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
    const int got =
        ::recv(as_socket(handle_), datagram.data(), static_cast<int>(datagram.size()), 0);
    if (got == SOCKET_ERROR) {
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
    received = true;
    return status::success();
  }
  return status::success();
}

void catch_interrupt() { SetConsoleCtrlHandler(on_console_event, TRUE); }

bool interrupt_requested() { return interrupt_flag; }

}  // namespace velkrin::platform
