// RawClient: the benchmarks' yardstick for the link, the least a client can do. A plain
// POSIX UDP socket on 127.0.0.1 sends a frame to one controller and blocks until a datagram
// comes back (at most a second). It sends nothing to an address outside 127.0.0.0/8.
#pragma once

#include <QByteArray>

#include <netinet/in.h>

class TRawClient {
public:
    // The controller at address (dotted) and port.
    TRawClient(const char* address, int port);
    ~TRawClient();
    TRawClient(const TRawClient&) = delete;
    TRawClient& operator=(const TRawClient&) = delete;

    // Sends the frame and waits for the next datagram; false when either fails.
    bool RoundTrip(const QByteArray& frame);

private:
    int FSocket;
    sockaddr_in FController{};
    bool FLoopback = false;
};
