// A network printer that takes connections and never reads: a loopback listener with a tiny receive
// window whose connections wait in the backlog until a test takes them, so a job's bytes can only sit in
// the sockets.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

namespace quorvanti::testing {

// Binds `listener` to a free loopback port and listens; answers "127.0.0.1:PORT", "" when it cannot.
inline std::string listenDeaf(int listener, int backlog) {
    const int tiny = 1024;
    ::setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &tiny, sizeof tiny);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return "";
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

}  // namespace quorvanti::testing
