/* Preload library for 32-bit programs run under qemu-i386 user emulation.
 *
 * qemu writes -1 as the trap number into the signal frames it builds for i386 guests.
 * Wine's i386 fault handler tells faults apart by that number, so every access violation
 * arrives in Windows code as an illegal instruction. This library wraps sigaction() for the
 * fault signals and, before the program's own handler runs, puts in the trap number Linux
 * would have written for the signal and its si_code. Signals sent by another process
 * (si_code <= 0) are left alone.
 *
 * Freestanding on purpose: it is built with the host's compiler (-m32 -nostdlib), so no
 * 32-bit C library or headers are needed. dlsym comes from the guest's C library at load time.
 */

#define RTLD_NEXT ((void *)-1l)
extern void *dlsym(void *handle, const char *name);

enum { SIGILL = 4, SIGTRAP = 5, SIGBUS = 7, SIGFPE = 8, SIGSEGV = 11, NSIG_WATCHED = 32 };
enum { SA_SIGINFO = 4 };
enum { SI_KERNEL = 0x80 };
enum { SEGV_MAPERR = 1, SEGV_ACCERR = 2, BUS_ADRALN = 1, FPE_INTDIV = 1, FPE_INTOVF = 2 };

/* i386 layouts of glibc's struct sigaction, siginfo_t and ucontext_t. */
struct guest_sigaction {
    void (*handler)(int, void *, void *);
    unsigned int mask[32];
    int flags;
    void (*restorer)(void);
};
struct guest_siginfo {
    int signo;
    int errno_value;
    int code;
};
enum { UCONTEXT_GREGS_OFFSET = 20, REG_TRAPNO = 12 };

typedef int (*sigaction_fn)(int, const struct guest_sigaction *, struct guest_sigaction *);
typedef void (*handler_fn)(int, void *, void *);

static handler_fn program_handlers[NSIG_WATCHED];

static int linux_trap_number(int sig, int code) {
    switch (sig) {
    case SIGSEGV: return code == SI_KERNEL ? 13 : 14;
    case SIGBUS: return code == BUS_ADRALN ? 17 : 14;
    case SIGILL: return 6;
    case SIGFPE: return (code == FPE_INTDIV || code == FPE_INTOVF) ? 0 : 16;
    case SIGTRAP: return code == SI_KERNEL ? 3 : 1;
    default: return -1;
    }
}

static void fix_then_forward(int sig, void *info, void *ucontext) {
    const struct guest_siginfo *si = info;
    if (si != 0 && ucontext != 0 && si->code > 0) {
        int *gregs = (int *)((char *)ucontext + UCONTEXT_GREGS_OFFSET);
        if (gregs[REG_TRAPNO] == -1) {
            gregs[REG_TRAPNO] = linux_trap_number(sig, si->code);
        }
    }
    program_handlers[sig](sig, info, ucontext);
}

static int watched(int sig) {
    return sig == SIGSEGV || sig == SIGBUS || sig == SIGILL || sig == SIGFPE || sig == SIGTRAP;
}

int sigaction(int sig, const struct guest_sigaction *act, struct guest_sigaction *old) {
    static sigaction_fn next;
    if (next == 0) {
        next = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    }
    if (!watched(sig)) {
        return next(sig, act, old);
    }
    handler_fn previous = program_handlers[sig];
    struct guest_sigaction wrapped;
    const struct guest_sigaction *install = act;
    if (act != 0 && (act->flags & SA_SIGINFO) != 0 && act->handler != 0) {
        wrapped = *act;
        wrapped.handler = fix_then_forward;
        install = &wrapped;
    }
    int result = next(sig, install, old);
    if (result == 0) {
        if (old != 0 && old->handler == fix_then_forward) {
            old->handler = previous;
        }
        if (act != 0) {
            program_handlers[sig] = install == &wrapped ? act->handler : 0;
        }
    }
    return result;
}
