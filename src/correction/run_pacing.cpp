#include "correction/run_pacing.h"

#include <algorithm>

namespace tovrik::correction {

namespace {

// A chunk grows or shrinks at most this much from one to the next, so that one odd measurement
// (a stall, a cache that warmed up) cannot swing the size from one end to the other.
constexpr double kMaxStep = 4.0;

}  // namespace

ChunkSizer::ChunkSizer(const RunPacing& pacing)
    : pacing_(pacing),
      next_(std::clamp<std::size_t>(pacing.FirstChunk, 1,
                                    std::max<std::size_t>(pacing.MaxChunk, 1))) {}

void ChunkSizer::ObserveRoundTrip(Duration took, std::uint64_t statements) {
    if (statements == 0) return;
    roundTrip_ = std::min(roundTrip_, took / static_cast<Duration::rep>(statements));
}

Duration ChunkSizer::ServerWork(Duration took, std::uint64_t statements) const {
    if (roundTrip_ == Duration::max()) return took;
    const Duration waiting = roundTrip_ * static_cast<Duration::rep>(statements);
    return std::max(took - waiting, Duration::zero());
}

Duration ChunkSizer::ObserveChunk(std::size_t operations, Duration took, std::uint64_t statements) {
    const Duration work = ServerWork(took, statements);
    const double target = std::chrono::duration<double>(pacing_.ChunkTarget).count();
    const double seconds = std::chrono::duration<double>(work).count();
    const double size = static_cast<double>(std::max<std::size_t>(operations, 1));
    const double wanted = seconds > 0 ? size * target / seconds : size * kMaxStep;
    const double bounded = std::clamp(wanted, size / kMaxStep, size * kMaxStep);
    next_ = std::clamp<std::size_t>(static_cast<std::size_t>(bounded), 1,
                                    std::max<std::size_t>(pacing_.MaxChunk, 1));
    return work;
}

}  // namespace tovrik::correction
