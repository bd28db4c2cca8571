#include "workers/worker_flags.h"

static_assert(sizeof(std::atomic<bool>) == 1 && std::atomic<bool>::is_always_lock_free);

std::atomic<bool> ArmRequest{false};
std::atomic<bool> WorkerArmed{false};
std::atomic<bool> ListIdle{false};

void RequestArm() noexcept {
    ArmRequest.store(true);
}
