#include "sockets.h"

namespace tarnscsi::alpaca {

std::string UseSockets() {
    // Started once and never cleaned up: other parts of the program (the
    // HTTP layer) may hold sockets until the process ends.
    static const int started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started == 0) return {};
    return "cannot use the network (WSAStartup): " + SocketErrorText(started);
}

int LastSocketError() { return WSAGetLastError(); }

std::string SocketErrorText(int error) {
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(error),
                       MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's messages end in ".\r\n".
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    if (message.empty()) message = "Windows socket error";
    return message + " (" + std::to_string(error) + ")";
}

void CloseSocket(NativeSocket socket) { closesocket(socket); }

std::string HostName() {
    // Winsock's gethostname fails until WSAStartup has been called.
    if (!UseSockets().empty()) return {};
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return {};
    return host;
}

bool SetSocketOption(NativeSocket socket, int level, int name, int value) {
    return setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

bool GuardListeningPort(NativeSocket socket) { return SetSocketOption(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, 1); }

std::string AccessDeniedText(int port) {
    // No privilege is needed for a port on Windows: WSAEACCES is a port
    // another program holds with SO_EXCLUSIVEADDRUSE, or one in the ranges
    // Windows keeps for itself (Hyper-V, WSL and Docker reserve some).
    return "port " + std::to_string(port) +
           " is held exclusively by another program or reserved by Windows (netsh interface ipv4 show "
           "excludedportrange protocol=tcp lists the reserved ranges); choose another with --port";
}

std::size_t RaiseDescriptorLimit() { return 0; }

}  // namespace tarnscsi::alpaca
