// A memory copy that survives memory that cannot be read. The watcher checks a
// page's protection before it reads, but the game may free the page in the
// instant between the check and the copy; a fault in that instant is caught
// here and turned into a failed copy instead of a crash.
//
// The copy is a single "rep movsb" at a known address. A vectored exception
// handler, installed once, sends a fault raised at exactly that instruction to
// the routine's failure exit; every other exception of the game passes on
// untouched.
#include "workers/activity_watcher.h"

extern "C" int qs_guarded_copy(void* out, const void* from, std::size_t size);
extern "C" const char qs_guarded_copy_fault[];
extern "C" const char qs_guarded_copy_recover[];

// Windows x64 calling convention: out in rcx, from in rdx, size in r8; rsi and
// rdi are callee-saved. The direction flag is clear on entry by the ABI. The
// unwind directives let a crash reporter of the game walk the stack through
// this function should it look while a fault is being handled.
asm(R"(
    .text
    .globl qs_guarded_copy
    .globl qs_guarded_copy_fault
    .globl qs_guarded_copy_recover
    .def qs_guarded_copy; .scl 2; .type 32; .endef
    .seh_proc qs_guarded_copy
qs_guarded_copy:
    pushq %rsi
    .seh_pushreg %rsi
    pushq %rdi
    .seh_pushreg %rdi
    .seh_endprologue
    movq %rcx, %rdi
    movq %rdx, %rsi
    movq %r8, %rcx
qs_guarded_copy_fault:
    rep movsb
    movl $1, %eax
    popq %rdi
    popq %rsi
    ret
qs_guarded_copy_recover:
    xorl %eax, %eax
    popq %rdi
    popq %rsi
    ret
    .seh_endproc
)");

static LONG CALLBACK RecoverFromCopyFault(EXCEPTION_POINTERS* exception) {
    DWORD code = exception->ExceptionRecord->ExceptionCode;
    bool memoryFault = code == EXCEPTION_ACCESS_VIOLATION || code == EXCEPTION_IN_PAGE_ERROR ||
                       code == STATUS_GUARD_PAGE_VIOLATION;
    CONTEXT* context = exception->ContextRecord;
    if (!memoryFault || context->Rip != reinterpret_cast<DWORD64>(qs_guarded_copy_fault)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    context->Rip = reinterpret_cast<DWORD64>(qs_guarded_copy_recover);
    return EXCEPTION_CONTINUE_EXECUTION;
}

static BOOL CALLBACK InstallHandler(PINIT_ONCE, PVOID, PVOID* installed) {
    *installed = AddVectoredExceptionHandler(1, RecoverFromCopyFault);
    return TRUE;
}

bool GuardedCopy(void* out, std::uintptr_t address, std::size_t size) {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    PVOID installed = nullptr;
    InitOnceExecuteOnce(&once, InstallHandler, nullptr, &installed);
    if (installed == nullptr) {
        // Without the handler, copy through the system: slower, never faults.
        SIZE_T copied = 0;
        return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address), out, size,
                                 &copied) &&
               copied == size;
    }
    return qs_guarded_copy(out, reinterpret_cast<const void*>(address), size) != 0;
}
