// Reads of game memory that survive memory that cannot be read: a copy for the
// few words the watcher follows, and a scan that searches the game's list where
// it lies. The watcher checks the protection of the pages first, but the game
// may free them in the instant between that check and the read; a fault in
// that instant is caught here and turned into a failed read instead of a crash.
//
// Both routines are leaf functions in one block of code of our own, and
// neither touches the stack. A vectored exception handler, installed once,
// sends a memory fault raised anywhere inside that block to a common exit that
// returns -1; every other exception of the game passes on untouched.
#include "workers/activity_watcher.h"

extern "C" int qs_guarded_copy(void* out, const void* from, std::size_t size);
extern "C" int qs_guarded_scan(const void* entries, std::size_t count);
extern "C" const char qs_guarded_begin[], qs_guarded_fault_exit[], qs_guarded_end[];

// Windows x64 calling convention: arguments in rcx, rdx, r8; rax, rcx, rdx and
// r8 may be changed freely. The unwind directives let a crash reporter of the
// game walk the stack through these functions should it look while a fault is
// being handled: with no prologue, the return address is at the stack top.
asm(R"(
    .text
    .globl qs_guarded_begin
    .globl qs_guarded_copy
    .globl qs_guarded_scan
    .globl qs_guarded_fault_exit
    .globl qs_guarded_end
qs_guarded_begin:

    # int qs_guarded_copy(out, from, size): 1 when copied
    .def qs_guarded_copy; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_copy
qs_guarded_copy:
    .seh_endprologue
    testq %r8, %r8
    jz 2f
1:  movb (%rdx), %al
    movb %al, (%rcx)
    incq %rdx
    incq %rcx
    decq %r8
    jnz 1b
2:  movl $1, %eax
    ret
    .seh_endproc

    # int qs_guarded_scan(entries, count): 1 at the first non-zero entry,
    # 0 when there is none. Four entries a round while four remain.
    .def qs_guarded_scan; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_scan
qs_guarded_scan:
    .seh_endprologue
    cmpq $4, %rdx
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
4:  movl $1, %eax
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

bool GuardedCopy(void* out, std::uintptr_t address, std::size_t size) {
    return HandlerInstalled() &&
           qs_guarded_copy(out, reinterpret_cast<const void*>(address), size) == 1;
}

int GuardedScan(std::uintptr_t address, std::size_t count) {
    return HandlerInstalled() ? qs_guarded_scan(reinterpret_cast<const void*>(address), count) : -1;
}
