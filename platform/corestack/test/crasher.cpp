// The crashing program of corestack's end-to-end tests.
//
//   corestack_crasher <info file>
//
// Starts two worker threads that block in known functions (reading a pipe that
// never delivers), waits until both sleep there, writes its thread
// ids and names and its memory map to the info file, then dies of SIGSEGV in
// a C function called from C++ member functions:
//
//   main thread: crasher_fault <- crashtest::Crasher::fire(int) (twice) <- main
//   workers:     crasher_block <- crashtest::Worker::park(int, int) <- crashtest::workerMain(void*)
//                (the second worker's park calls itself 80 times first)
//
// Info file lines: "tid <lwp> <name>" for every thread, then "map <line>" for
// every line of /proc/self/maps (under qemu-arm, the emulated program's map).
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace crashtest {

constexpr int NumWorkers = 2;
// Recursion depth of the last worker: its stack is deeper than corestack's
// limit of 64 frames.
constexpr int DeepStack = 80;

pthread_barrier_t Ready;
int BlockPipe[2];
long WorkerTids[NumWorkers];

} // namespace crashtest

// The C functions: their names are not mangled.
extern "C" __attribute__((noinline)) void crasher_block(int fd)
{
    pthread_barrier_wait(&crashtest::Ready);
    char c;
    for (;;)
        if (read(fd, &c, 1) < 0)
            std::abort();
}

extern "C" [[noreturn]] __attribute__((noinline)) void crasher_fault(volatile int *target)
{
#if defined(__x86_64__)
    // On the build machine the thread sends itself SIGSEGV with a system call
    // made right here, so this function stays frame 0: a real memory fault
    // would also put "segfault at 0" lines into the host's kernel log. (Under
    // qemu-arm and on the board the fault below never reaches the host kernel.)
    const long pid = getpid();
    const long tid = syscall(SYS_gettid);
    long nr = SYS_tgkill;
    asm volatile("syscall" : "+a"(nr) : "D"(pid), "S"(tid), "d"(long{SIGSEGV}) : "rcx", "r11", "memory");
#endif
    *target = 42;
    std::abort();
}

namespace crashtest {

class Worker {
public:
    // Descends `depth` further calls of itself before blocking.
    __attribute__((noinline)) static void park(int fd, int depth)
    {
        if (depth > 0)
            park(fd, depth - 1);
        else
            crasher_block(fd);
    }
};

void *workerMain(void *arg)
{
    const int index = static_cast<int>(reinterpret_cast<long>(arg));
    WorkerTids[index] = syscall(SYS_gettid);
    Worker::park(BlockPipe[0], index == NumWorkers - 1 ? DeepStack : 0);
    return nullptr;
}

class Crasher {
public:
    [[noreturn]] void fire(int depth);
};

// Its last instruction is the call of crasher_fault, which never returns: the
// return address of that call is the first byte of the function after it.
__attribute__((noinline)) void Crasher::fire(int depth)
{
    if (depth > 1)
        fire(depth - 1);
    crasher_fault(nullptr);
}

// Waits (at most five seconds) until the thread sleeps in its read of the
// pipe, so that its stack is the one the tests expect.
void waitUntilBlocked(long tid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/self/task/%ld/wchan", tid);
    for (int i = 0; i < 500; ++i) {
        char wchan[64] = "";
        if (FILE *f = std::fopen(path, "r")) {
            const bool got = std::fgets(wchan, sizeof wchan, f) != nullptr;
            std::fclose(f);
            if (got && std::strstr(wchan, "pipe_read"))
                return;
        }
        usleep(10000);
    }
}

void writeInfo(const char *path)
{
    FILE *info = std::fopen(path, "w");
    if (!info) {
        std::perror(path);
        std::exit(2);
    }
    std::fprintf(info, "tid %ld crash-main\n", syscall(SYS_gettid));
    for (int i = 0; i < NumWorkers; ++i)
        std::fprintf(info, "tid %ld worker-%d\n", WorkerTids[i], i + 1);
    FILE *maps = std::fopen("/proc/self/maps", "r");
    char line[1024];
    while (maps && std::fgets(line, sizeof line, maps))
        std::fprintf(info, "map %s", line);
    if (maps)
        std::fclose(maps);
    std::fclose(info);
}

} // namespace crashtest

int main(int argc, char **argv)
{
    using namespace crashtest;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <info file>\n", argv[0]);
        return 2;
    }
    if (pipe(BlockPipe) != 0)
        return 2;
    pthread_barrier_init(&Ready, nullptr, NumWorkers + 1);
    pthread_t threads[NumWorkers];
    for (long i = 0; i < NumWorkers; ++i) {
        pthread_create(&threads[i], nullptr, workerMain, reinterpret_cast<void *>(i));
        char name[16];
        std::snprintf(name, sizeof name, "worker-%ld", i + 1);
        pthread_setname_np(threads[i], name);
    }
    pthread_setname_np(pthread_self(), "crash-main");
    pthread_barrier_wait(&Ready);
    for (long tid : WorkerTids)
        waitUntilBlocked(tid);
    writeInfo(argv[1]);
    Crasher().fire(2);
}
