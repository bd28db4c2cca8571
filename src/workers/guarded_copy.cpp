// Reads of game memory that survive memory that cannot be read: a load for
// each of the few words the watcher follows, and a scan that searches the
// game's list where it lies. The watcher checks the protection of the pages
// first, but the game may free them in the instant between that check and the
// read; a fault in that instant is caught here and turned into a failed read
// instead of a crash.
//
// Each word is read with one load of its own width: the game changes such a
// word with one store, so a load sees the old value or the new one, never
// bytes of both (an address that was never there).
//
// The routines are leaf functions in one block of code of our own, and none
// touches the stack. A vectored exception handler, installed once, sends a
// memory fault raised anywhere inside that block to a common exit that
// returns -1; every other exception of the game passes on untouched.
#include "workers/activity_watcher.h"

#include <algorithm>

extern "C" int qs_guarded_load64(const void* from, std::uint64_t* out);
extern "C" int qs_guarded_load32(const void* from, std::uint32_t* out);
extern "C" int qs_guarded_scan(const void* entries, std::size_t count, const void** round);
extern "C" const char qs_guarded_begin[], qs_guarded_fault_exit[], qs_guarded_end[];

// Windows x64 calling convention: arguments in rcx, rdx, r8; rax, rcx, rdx and
// r8 may be changed freely. The unwind directives let a crash reporter of the
// game walk the stack through these functions should it look while a fault is
// being handled: with no prologue, the return address is at the stack top.
asm(R"(
    .text
    .globl qs_guarded_begin
    .globl qs_guarded_load64
    .globl qs_guarded_load32
    .globl qs_guarded_scan
    .globl qs_guarded_fault_exit
    .globl qs_guarded_end
qs_guarded_begin:

    # int qs_guarded_load64(from, out): 1 when loaded, with one 8-byte load
    .def qs_guarded_load64; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_load64
qs_guarded_load64:
    .seh_endprologue
    movq (%rcx), %rax
    movq %rax, (%rdx)
    movl $1, %eax
    ret
    .seh_endproc

    # int qs_guarded_load32(from, out): 1 when loaded, with one 4-byte load
    .def qs_guarded_load32; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_load32
qs_guarded_load32:
    .seh_endprologue
    movl (%rcx), %eax
    movl %eax, (%rdx)
    movl $1, %eax
    ret
    .seh_endproc

    # int qs_guarded_scan(entries, count, round): 1 at the first non-zero
    # entry, with *round the first entry of the round that holds it (one of
    # sixteen, four or one), 0 when there is none. Sixteen entries (two cache lines) a round with
    # SSE2, which every x64 processor has, while sixteen remain: 23
    # instructions where rounds of four take 36 for the same bytes, so the
    # sweep holds the core for less time. Then four a round, then one. Only
    # xmm0 to xmm5 are used: the others belong to the caller.
    .def qs_guarded_scan; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_scan
qs_guarded_scan:
    .seh_endprologue
    pxor %xmm5, %xmm5
    cmpq $16, %rdx
    jb 5f
6:  movdqu (%rcx), %xmm0
    movdqu 16(%rcx), %xmm1
    movdqu 32(%rcx), %xmm2
    movdqu 48(%rcx), %xmm3
    por %xmm1, %xmm0
    por %xmm3, %xmm2
    movdqu 64(%rcx), %xmm1
    movdqu 80(%rcx), %xmm3
    movdqu 96(%rcx), %xmm4
    por %xmm1, %xmm0
    por %xmm3, %xmm2
    movdqu 112(%rcx), %xmm1
    por %xmm4, %xmm0
    por %xmm1, %xmm2
    por %xmm2, %xmm0
    pcmpeqb %xmm5, %xmm0
    pmovmskb %xmm0, %eax
    cmpl $0xFFFF, %eax
    jne 4f
    addq $128, %rcx
    subq $16, %rdx
    cmpq $16, %rdx
    jae 6b
5:  cmpq $4, %rdx
    jb 2f
1:  movq (%rcx), %rax
    orq 8(%rcx), %rax
    orq 16(%rcx), %rax
    orq 24(%rcx), %rax
    jnz 4f
    addq $32, %rcx
    subq $4, %rdx
    cmpq $4, %rdx
    jae 1b
2:  testq %rdx, %rdx
    jz 3f
    cmpq $0, (%rcx)
    jne 4f
    addq $8, %rcx
    decq %rdx
    jmp 2b
3:  xorl %eax, %eax
    ret
4:  movq %rcx, (%r8)
    movl $1, %eax
    ret
    .seh_endproc

    .def qs_guarded_fault_exit; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_fault_exit
qs_guarded_fault_exit:
    .seh_endprologue
    movl $-1, %eax
    ret
    .seh_endproc
qs_guarded_end:
)");

// The system took the guard from the page that our read touched (the game
// freed its list and the address now lies in another thread's stack, say). Its
// owner relies on that guard, to grow the stack for one: it gets it back.
static void GiveBackGuard(const EXCEPTION_RECORD& record) {
    if (record.NumberParameters < 2) {
        return;
    }
    auto page = reinterpret_cast<void*>(record.ExceptionInformation[1]);
    MEMORY_BASIC_INFORMATION region;
    DWORD old;
    if (VirtualQuery(page, &region, sizeof region) != 0 && region.State == MEM_COMMIT) {
        VirtualProtect(page, 1, region.Protect | PAGE_GUARD, &old);
    }
}

static LONG CALLBACK RecoverFromGuardedFault(EXCEPTION_POINTERS* exception) {
    DWORD code = exception->ExceptionRecord->ExceptionCode;
    bool memoryFault = code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_IN_PAGE_ERROR ||
                       code == STATUS_GUARD_PAGE_VIOLATION;
    CONTEXT* context = exception->ContextRecord;
    bool inGuardedCode = context->Rip >= reinterpret_cast<DWORD64>(qs_guarded_begin) &&
                         context->Rip < reinterpret_cast<DWORD64>(qs_guarded_end);
    if (!memoryFault || !inGuardedCode) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (code == STATUS_GUARD_PAGE_VIOLATION) {
        GiveBackGuard(*exception->ExceptionRecord);
    }
    context->Rip = reinterpret_cast<DWORD64>(qs_guarded_fault_exit);
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Should the handler not go in (the system out of memory), nothing is read and
// the next call tries again: without it, a read could take the game down.
static BOOL CALLBACK InstallHandler(PINIT_ONCE, PVOID, PVOID*) {
    return AddVectoredExceptionHandler(1, RecoverFromGuardedFault) != nullptr;
}

static bool HandlerInstalled() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    return InitOnceExecuteOnce(&once, InstallHandler, nullptr, nullptr) != FALSE;
}

bool GuardedLoad(std::uintptr_t address, std::size_t size, std::uint64_t* value) {
    if (!HandlerInstalled()) {
        return false;
    }
    auto from = reinterpret_cast<const void*>(address);
    if (size == 8) {
        return qs_guarded_load64(from, value) == 1;
    }
    std::uint32_t word = 0;
    if (size != 4 || qs_guarded_load32(from, &word) != 1) {
        return false;
    }
    *value = word;
    return true;
}

// A long list is searched in slices, and between two slices the core goes to
// any thread waiting for it on this processor: on Windows a game thread of the
// watcher's priority or below that woke while the watcher swept its list
// waits one slice, not the whole sweep (a higher one takes the core at once
// anyway). With no thread waiting the yield returns at once. Linux's
// scheduler under Wine hands the core over only to a thread that has not run
// past its fair share, so there a game thread may wait out the sweep.
int GuardedScan(std::uintptr_t address, std::size_t count, std::uintptr_t* round) {
    if (!HandlerInstalled()) {
        return -1;
    }
    for (;;) {
        std::size_t slice = std::min(count, kScanSliceEntries);
        const void* at = nullptr;
        int found = qs_guarded_scan(reinterpret_cast<const void*>(address), slice, &at);
        if (found > 0) {
            *round = reinterpret_cast<std::uintptr_t>(at);
        }
        if (found != 0 || slice == count) {
            return found;
        }
        address += slice * 8;
        count -= slice;
        SwitchToThread();
    }
}
