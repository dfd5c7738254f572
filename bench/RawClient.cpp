#include "RawClient.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

TRawClient::TRawClient(const char* address, int port) : FSocket(::socket(AF_INET, SOCK_DGRAM, 0))
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FSocket, reinterpret_cast<sockaddr*>(&local), sizeof local);
    timeval patience{1, 0};
    ::setsockopt(FSocket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    FController.sin_family = AF_INET;
    FController.sin_port = htons(uint16_t(port));
    FLoopback = ::inet_pton(AF_INET, address, &FController.sin_addr) == 1 &&
                (ntohl(FController.sin_addr.s_addr) >> 24) == IN_LOOPBACKNET;
}

TRawClient::~TRawClient()
{
    ::close(FSocket);
}

bool TRawClient::RoundTrip(const QByteArray& frame)
{
    char reply[2048];
    return FLoopback &&
           ::sendto(FSocket, frame.constData(), size_t(frame.size()), 0,
                    reinterpret_cast<const sockaddr*>(&FController), sizeof FController) == frame.size() &&
           ::recv(FSocket, reply, sizeof reply, 0) > 0;
}
