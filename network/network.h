// Serial ports on another machine: rfc2217://HOST:PORT, a network serial server (ser2net) that
// speaks Telnet with the COM-PORT option. The port logic here is portable; the socket under it
// is the platform's (net_socket_posix.cpp, net_socket_win32.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "serial/serial_port.h"

namespace valdrix {

// Connecting and negotiating together; a server that has not agreed by then is unreachable.
constexpr std::uint64_t NET_OPEN_TIMEOUT_MS = 3000;
// Each read's time-out is one round trip longer than a local port's, the round trip as the
// server's rate confirmations measure it, at most NET_ROUND_TRIP_MAX_MS: a later confirmation
// counts as that, so that one stall does not stretch every later read.
constexpr std::uint64_t NET_ROUND_TRIP_MAX_MS = 5000;
// After a connection of ours, how often the server is asked again while it says that the port
// is in use: it lets the old connection go once it has seen it close. It is asked until
// NET_OPEN_TIMEOUT_MS and the last round trip have passed.
constexpr std::uint64_t NET_RELEASE_PAUSE_MS = 100;
// Bytes received and not yet read that the port holds, as a local driver's buffer; the rest is
// lost.
constexpr std::size_t NET_HELD_MAX = 4096;

constexpr char NETWORK_SCHEME[] = "rfc2217://";
constexpr char NETWORK_FORM[] = "rfc2217://HOST:PORT";

struct NetAddress {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
  std::uint16_t port = 0;
};

// Whether the name asks for a network port at all (the scheme, in any case).
bool IsNetworkPortName(const std::string& name);
// HOST:PORT of rfc2217://HOST:PORT or rfc2217://[IPv6]:PORT; nothing when malformed.
std::optional<NetAddress> ParseNetworkPortName(const std::string& name);
// Why a port name cannot be meant ("NAME: not a valid network address; ..."), refused before
// any port is opened; empty when it may be tried.
std::string RefusedPortName(const std::string& name);

// How long a remote port's connection lives. A server serves one client at a time.
enum class NetworkPolicy {
  // For the backend's whole life (a run of the command line): every conversation borrows it.
  PerRun,
  // While a conversation runs, as a local port is held (the window, which waits for the user).
  PerConversation,
};

// Opens rfc2217:// names only; lists nothing, as remote ports are not discovered. A connection
// the server closed is opened again, once in a conversation; one that another client took over
// is not, so that the other client keeps the port.
std::unique_ptr<SerialBackend> MakeNetworkSerial(NetworkPolicy policy = NetworkPolicy::PerRun);
// Network names to the network backend, every other name, and the list, to the local one.
std::unique_ptr<SerialBackend> MakeRoutingSerial(std::unique_ptr<SerialBackend> local,
                                                 NetworkPolicy policy = NetworkPolicy::PerRun);

// What the network port needs of a connected, non-blocking TCP socket. Interrupted: a request
// to stop came, which ends the wait and leaves the connection as it was.
enum class NetWait { Ready, TimedOut, Failed, Interrupted };
class NetSocket {
 public:
  virtual ~NetSocket() = default;
  // Waits, without using the processor, until the socket can be read (or written, or has closed)
  // or the deadline on NowMs() has passed.
  virtual NetWait WaitFor(bool write, std::uint64_t deadlineMs) = 0;
  // The bytes moved; 0 when it would block; -1 when the connection failed or the other end
  // closed it.
  virtual long Send(const std::uint8_t* bytes, std::size_t length) = 0;
  virtual long Receive(std::uint8_t* buffer, std::size_t length) = 0;
  virtual std::uint64_t NowMs() = 0;
};

// A connection to host:port made by the deadline, or nullptr and why. The name is looked up on
// a worker thread of its own, which is left to end alone when the deadline or a request to stop
// comes first.
std::unique_ptr<NetSocket> ConnectTcp(const NetAddress& address, std::uint64_t deadlineMs,
                                      std::string& why);
// Waits until the deadline on MonotonicMs() (TimedOut) or a request to stop (Interrupted).
NetWait PauseUntil(std::uint64_t deadlineMs);
// Makes every later name lookup first wait this long, as a slow resolver would: for the tests of
// the lookup's bound.
void SlowLookupsForTests(std::uint64_t ms);
// Negotiates on a connected socket, up to the confirmation of the rate; nullptr and why when
// the server does not agree by the deadline (Unreachable), or says that another client has the
// port (Busy). Apart from ConnectTcp so that a scripted socket can stand in.
std::unique_ptr<SerialPort> OpenNetworkPort(std::unique_ptr<NetSocket> socket, std::uint32_t rate,
                                            std::uint64_t deadlineMs, PortError& error);

}  // namespace valdrix
