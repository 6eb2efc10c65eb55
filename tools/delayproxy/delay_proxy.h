#pragma once

// A loopback TCP proxy that delays everything it forwards, standing in for a database server
// across a network (this machine's kernel has no netem to delay loopback traffic). Linux only.

#include <chrono>
#include <memory>
#include <string>

namespace tovrik::delayproxy {

// Listens on 127.0.0.1 and gives every client that connects its own connection to the target.
// Each chunk of bytes read from either side reaches the other side half the round-trip time after
// it was read, in order; chunks in flight do not wait for each other's delays, so throughput is
// not limited by the delay. All sockets have TCP_NODELAY.
class DelayProxy {
public:
    // Starts listening on a free port. Throws std::system_error when the target name cannot be
    // resolved or the listening socket cannot be made. Clients whose target connection fails are
    // disconnected at once.
    DelayProxy(const std::string& targetHost, int targetPort, std::chrono::microseconds rtt);
    // Disconnects every client, also in the middle of a transfer, and waits for its threads.
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // The loopback port clients connect to.
    int Port() const;
    // Changes the round-trip time for chunks read from now on (those in flight keep theirs).
    void SetRtt(std::chrono::microseconds rtt);
    std::chrono::microseconds Rtt() const;
    // Client connections accepted so far.
    int Accepted() const;

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tovrik::delayproxy
