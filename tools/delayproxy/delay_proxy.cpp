#include "delayproxy/delay_proxy.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace tovrik::delayproxy {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = 64 * 1024;
// Bytes one direction may hold back before it stops reading: a bound on memory when the receiving
// side does not read, far above what the delays here keep in flight.
constexpr std::size_t kMaxHeld = 64 * 1024 * 1024;

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), std::string("DelayProxy: ") + what);
}

// A socket descriptor, closed with its owner.
class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int Get() const { return fd_; }

private:
    int fd_;
};

void SetNoDelay(int fd) {
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Sends all of a chunk; false when the peer is gone or the socket was shut down.
bool SendAll(int fd, const std::vector<char>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

class Link;

// One direction of a link: a reader thread stamps each chunk with the time it is due and queues
// it; a writer thread sends the chunks in order, each no earlier than its due time.
class Direction {
public:
    Direction(Link& link, int from, int to) : link_(link), from_(from), to_(to) {}
    void Start() {
        reader_ = std::thread([this] { Read(); });
        writer_ = std::thread([this] { Write(); });
    }
    // Ends both threads soon, dropping what is queued. The sockets must be shut down as well to
    // wake a thread blocked in recv or send.
    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    void Join() {
        if (reader_.joinable()) reader_.join();
        if (writer_.joinable()) writer_.join();
    }
    bool Finished() const { return finishedThreads_.load() == 2; }

private:
    struct Chunk {
        SteadyClock::time_point due;
        std::vector<char> bytes;
    };
    void Read();
    void Write();

    Link& link_;
    const int from_;
    const int to_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> queue_;
    std::size_t held_ = 0;
    bool ended_ = false;   // the reader saw the end of the stream
    bool failed_ = false;  // ... through an error rather than an orderly close
    bool stopped_ = false;
    std::atomic<int> finishedThreads_{0};
    std::thread reader_;
    std::thread writer_;
};

// A client connection and its connection to the target.
class Link {
public:
    Link(Socket client, Socket server, const std::atomic<std::int64_t>& rttMicroseconds)
        : client_(std::move(client)),
          server_(std::move(server)),
          rttMicroseconds_(rttMicroseconds),
          up_(*this, client_.Get(), server_.Get()),
          down_(*this, server_.Get(), client_.Get()) {}
    ~Link() {
        Abort();
        up_.Join();
        down_.Join();
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    void Start() {
        up_.Start();
        down_.Start();
    }
    // Breaks both connections: every blocked recv and send returns and the threads end.
    void Abort() {
        shutdown(client_.Get(), SHUT_RDWR);
        shutdown(server_.Get(), SHUT_RDWR);
        up_.Stop();
        down_.Stop();
    }
    bool Finished() const { return up_.Finished() && down_.Finished(); }
    SteadyClock::duration OneWayDelay() const {
        return std::chrono::microseconds(rttMicroseconds_.load() / 2);
    }

private:
    Socket client_;
    Socket server_;
    const std::atomic<std::int64_t>& rttMicroseconds_;
    Direction up_;
    Direction down_;
};

void Direction::Read() {
    for (;;) {
        std::vector<char> bytes(kReadSize);
        const ssize_t n = recv(from_, bytes.data(), bytes.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        const auto due = SteadyClock::now() + link_.OneWayDelay();
        std::unique_lock lock(mutex_);
        if (n <= 0) {
            ended_ = true;
            failed_ = n < 0;
            changed_.notify_all();
            break;
        }
        changed_.wait(lock, [&] { return stopped_ || held_ < kMaxHeld; });
        if (stopped_) break;
        bytes.resize(static_cast<std::size_t>(n));
        held_ += bytes.size();
        queue_.push_back(Chunk{due, std::move(bytes)});
        changed_.notify_all();
    }
    ++finishedThreads_;
}

void Direction::Write() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopped_ || ended_ || !queue_.empty(); });
        if (stopped_) break;
        if (queue_.empty()) {
            // Everything before the end has been delivered: pass the end on.
            const bool failed = failed_;
            lock.unlock();
            if (failed) {
                link_.Abort();
            } else {
                shutdown(to_, SHUT_WR);
            }
            ++finishedThreads_;
            return;
        }
        const auto due = queue_.front().due;
        if (SteadyClock::now() < due) {
            changed_.wait_until(lock, due, [&] { return stopped_; });
            continue;
        }
        Chunk chunk = std::move(queue_.front());
        queue_.pop_front();
        held_ -= chunk.bytes.size();
        changed_.notify_all();
        lock.unlock();
        if (!SendAll(to_, chunk.bytes)) {
            link_.Abort();
            ++finishedThreads_;
            return;
        }
        lock.lock();
    }
    ++finishedThreads_;
}

}  // namespace

class DelayProxy::Impl {
public:
    Impl(const std::string& targetHost, int targetPort, std::chrono::microseconds rtt)
        : rttMicroseconds_(rtt.count()) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int rc =
            getaddrinfo(targetHost.c_str(), std::to_string(targetPort).c_str(), &hints, &found);
        if (rc != 0) {
            throw std::system_error(
                std::make_error_code(std::errc::host_unreachable),
                "DelayProxy: cannot resolve " + targetHost + ": " + gai_strerror(rc));
        }
        for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
            targets_.emplace_back(
                reinterpret_cast<const char*>(entry->ai_addr),
                reinterpret_cast<const char*>(entry->ai_addr) + entry->ai_addrlen);
            families_.push_back(entry->ai_family);
        }
        freeaddrinfo(found);

        listener_ = Socket(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (listener_.Get() < 0) ThrowErrno("socket");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            listen(listener_.Get(), SOMAXCONN) != 0) {
            ThrowErrno("listen");
        }
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { Accept(); });
    }

    ~Impl() {
        stopping_ = true;
        // On Linux this makes the blocked accept return.
        shutdown(listener_.Get(), SHUT_RDWR);
        acceptor_.join();
        std::lock_guard lock(mutex_);
        for (auto& link : links_) link->Abort();
        links_.clear();
    }

    int Port() const { return port_; }
    std::atomic<std::int64_t>& RttMicroseconds() { return rttMicroseconds_; }
    int Accepted() const { return accepted_.load(); }

private:
    void Accept() {
        while (!stopping_) {
            Socket client(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.Get() < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (stopping_ || errno == EINVAL) return;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));  // out of descriptors
                continue;
            }
            ++accepted_;
            Socket server = ConnectToTarget();
            if (server.Get() < 0) continue;  // the client sees its connection closed
            SetNoDelay(client.Get());
            SetNoDelay(server.Get());
            std::lock_guard lock(mutex_);
            // Finished links are dropped here rather than by their own threads, which cannot
            // join themselves.
            links_.remove_if([](const std::unique_ptr<Link>& link) { return link->Finished(); });
            links_.push_back(
                std::make_unique<Link>(std::move(client), std::move(server), rttMicroseconds_));
            links_.back()->Start();
        }
    }

    Socket ConnectToTarget() const {
        for (std::size_t i = 0; i < targets_.size(); ++i) {
            Socket server(socket(families_[i], SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (server.Get() < 0) continue;
            if (connect(server.Get(), reinterpret_cast<const sockaddr*>(targets_[i].data()),
                        static_cast<socklen_t>(targets_[i].size())) == 0) {
                return server;
            }
        }
        return Socket();
    }

    std::vector<std::vector<char>> targets_;  // the target's socket addresses
    std::vector<int> families_;
    std::atomic<std::int64_t> rttMicroseconds_;
    Socket listener_;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;
    std::list<std::unique_ptr<Link>> links_;
    std::thread acceptor_;
};

DelayProxy::DelayProxy(const std::string& targetHost, int targetPort, std::chrono::microseconds rtt)
    : impl_(std::make_unique<Impl>(targetHost, targetPort, rtt)) {}

DelayProxy::~DelayProxy() = default;

int DelayProxy::Port() const { return impl_->Port(); }

void DelayProxy::SetRtt(std::chrono::microseconds rtt) { impl_->RttMicroseconds() = rtt.count(); }

std::chrono::microseconds DelayProxy::Rtt() const {
    return std::chrono::microseconds(impl_->RttMicroseconds().load());
}

int DelayProxy::Accepted() const { return impl_->Accepted(); }

}  // namespace tovrik::delayproxy
