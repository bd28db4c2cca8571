// Native figures: the worker's summation as built for Linux, beside the same
// figure under Wine from bench_win.
#include "bench_common.h"

int main() {
    BenchWorkerTerms("native");
}
