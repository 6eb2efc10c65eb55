#pragma once

// How a correction run paces its work: how many operations go into one chunk (one step of the
// run, a few statements and a commit). The size follows the time the server spends working, not
// the time spent waiting for the network, so that a distant server gets as few statements as a
// near one.

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tovrik {

using Duration = std::chrono::steady_clock::duration;

// The defaults suit every front end.
struct RunPacing {
    std::chrono::milliseconds ChunkTarget{1000};  // server work in one chunk
    std::size_t FirstChunk = 128;  // small, so that the bar moves early
    std::size_t MaxChunk = 2000;  // bounds the statement texts and what is held in memory
};

namespace correction {

// Sizes the chunks of a run. The time a chunk took, less one round trip per statement it sent,
// is the server's work; the round trip is estimated by the quickest statement seen, so the
// estimate errs towards smaller chunks, never towards unbounded ones.
class ChunkSizer {
public:
    explicit ChunkSizer(const RunPacing& pacing);

    // Operations in the next chunk: from 1 to MaxChunk.
    std::size_t Next() const { return next_; }
    // A statement (or a few) that did little work on the server: the round trip is at most this.
    void ObserveRoundTrip(Duration took, std::uint64_t statements = 1);
    // A chunk of `operations` took `took` and sent `statements`; returns the server's share.
    Duration ObserveChunk(std::size_t operations, Duration took, std::uint64_t statements);
    // The server's share of `took` for `statements` round trips.
    Duration ServerWork(Duration took, std::uint64_t statements) const;

private:
    RunPacing pacing_;
    std::size_t next_;
    Duration roundTrip_ = Duration::max();
};

}  // namespace correction
}  // namespace tovrik
