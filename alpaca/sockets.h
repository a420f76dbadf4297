// The system's socket headers and the few calls that differ between POSIX
// and Windows (Winsock), for the code of the server that uses sockets
// directly: the listen address, the discovery responder and the HTTP
// server's listening sockets and connection limit.
#pragma once

#ifdef _WIN32
// Winsock's headers before anything includes <windows.h>; no min and max
// macros over std::min and std::max.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <string>

namespace tarnscsi::alpaca {

#ifdef _WIN32
using NativeSocket = SOCKET;
inline constexpr NativeSocket kNoSocket = INVALID_SOCKET;
// What a failed call left in WSAGetLastError.
inline constexpr int kAddressInUse = WSAEADDRINUSE;
inline constexpr int kAddressNotAvailable = WSAEADDRNOTAVAIL;
inline constexpr int kAccessDenied = WSAEACCES;
inline constexpr int kFamilyNotSupported = WSAEAFNOSUPPORT;
#else
using NativeSocket = int;
inline constexpr NativeSocket kNoSocket = -1;
// What a failed call left in errno.
inline constexpr int kAddressInUse = EADDRINUSE;
inline constexpr int kAddressNotAvailable = EADDRNOTAVAIL;
inline constexpr int kAccessDenied = EACCES;
inline constexpr int kFamilyNotSupported = EAFNOSUPPORT;
#endif

// Makes the system's sockets usable in this process; Windows needs it
// (WSAStartup) before any socket call, name lookups included. Every call
// after the first does nothing; the sockets stay usable until the process
// ends. "" when usable, else why not.
std::string UseSockets();

// The error the last failed socket call of this thread left (errno, or
// WSAGetLastError on Windows), and its text.
int LastSocketError();
std::string SocketErrorText(int error);

void CloseSocket(NativeSocket socket);

// This computer's name (gethostname); "" when the system gives none.
std::string HostName();

// setsockopt with an int value; whether the system took it.
bool SetSocketOption(NativeSocket socket, int level, int name, int value);

// Keeps any other socket off the port `socket` is about to bind and listen
// on; whether the system took it. On Linux SO_REUSEADDR lets the server
// restart at once while connections of its last run linger, yet no other
// socket can bind the port while it listens; on Windows SO_REUSEADDR would
// let another program take the port silently, and SO_EXCLUSIVEADDRUSE is
// the guard.
bool GuardListeningPort(NativeSocket socket);

// What a bind refused with kAccessDenied means on this system, and what to
// try: on Linux a port below 1024 needs privileges; on Windows the port is
// held exclusively by another program or in a range Windows keeps.
std::string AccessDeniedText(int port);

// Raises the process's limit on open descriptors (soft) as far as it may
// go (hard) and gives the limit now in force: every connection costs one.
// 0 where sockets count against no such limit (Windows).
std::size_t RaiseDescriptorLimit();

}  // namespace tarnscsi::alpaca
