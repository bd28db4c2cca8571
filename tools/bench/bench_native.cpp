// Native figures: the pure logic on Linux, with game memory read through
// process_vm_readv, the Linux counterpart of ReadProcessMemory.
#include "bench_common.h"

#include <sys/uio.h>
#include <unistd.h>

static bool ReadOwnMemory(std::uintptr_t address, void* out, std::size_t size) {
    iovec local = {out, size};
    iovec remote = {reinterpret_cast<void*>(address), size};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

int main() {
    BenchWorkerTerms("native");
    BenchWatcherPass("native", ReadOwnMemory);
}
