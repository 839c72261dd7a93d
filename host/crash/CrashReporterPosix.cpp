#include "crash/CrashReporter.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <new>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

// Everything the signal handler needs is prepared at installation, in static
// buffers: in the handler only async-signal-safe calls are made (open, write,
// close, clock_gettime, sigprocmask, prctl, setrlimit, execve, raise) and
// nothing is allocated.
namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
// How many times the program was restarted after a crash since the user
// started it; it is restarted once at most.
const char kRestartName[] = "QUILLET_CRASH_RESTARTS";
const char kRestartVariable[] = "QUILLET_CRASH_RESTARTS=";
const int kMaxRestarts = 1;
// Reports kept in the folder: the newest ones, this crash's included.
const int kMaxReports = 20;
// Each thread's stack for the handler: a stack overflow leaves no room on the
// thread's own stack, and without one the kernel ends the program silently.
const size_t kAlternateStackSize = 64 * 1024;

bool s_installed = false;
char s_folder[2048];
char s_appName[64];
char s_executable[2048];
char s_commandLine[8192];
char* s_argv[256];
char* s_env[1024];
char s_restartEntry[64];
long s_restarts = 0;
struct sigaction s_previous[kSignalCount];
alignas(16) char s_alternateStack[kAlternateStackSize];

// --- Formatting without the C library's allocating functions ---

struct Buffer
{
    char data[1024];
    size_t size = 0;

    void add(const char* text)
    {
        while (*text && size < sizeof(data))
            data[size++] = *text++;
    }
    void addNumber(unsigned long value, unsigned base = 10, int width = 1)
    {
        char digits[32];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value % base];
            value /= base;
        } while (value && n < 32);
        while (n < width && n < 32)
            digits[n++] = '0';
        while (n > 0 && size < sizeof(data))
            data[size++] = digits[--n];
    }
    void addSigned(long value)
    {
        if (value < 0) {
            add("-");
            addNumber(static_cast<unsigned long>(-value));
        } else {
            addNumber(static_cast<unsigned long>(value));
        }
    }
    void writeTo(int fd)
    {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::write(fd, data + done, size - done);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        size = 0;
    }
};

const char* signalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "SIGSEGV (segmentation fault)";
    case SIGBUS:
        return "SIGBUS (bus error)";
    case SIGILL:
        return "SIGILL (illegal instruction)";
    case SIGFPE:
        return "SIGFPE (floating-point exception)";
    case SIGABRT:
        return "SIGABRT (abort)";
    default:
        return "signal";
    }
}

// "YYYY-MM-DD hh:mm:ss UTC" from seconds since 1970, by arithmetic alone.
void addUtcTime(Buffer& out, long seconds)
{
    long days = seconds / 86400;
    long rest = seconds % 86400;
    // Civil date from a day count (proleptic Gregorian calendar).
    days += 719468;
    const long era = days / 146097;
    const long dayOfEra = days - era * 146097;
    const long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long mp = (5 * dayOfYear + 2) / 153;
    const long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const long month = mp < 10 ? mp + 3 : mp - 9;
    const long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    out.addNumber(static_cast<unsigned long>(year), 10, 4);
    out.add("-");
    out.addNumber(static_cast<unsigned long>(month), 10, 2);
    out.add("-");
    out.addNumber(static_cast<unsigned long>(day), 10, 2);
    out.add(" ");
    out.addNumber(static_cast<unsigned long>(rest / 3600), 10, 2);
    out.add(":");
    out.addNumber(static_cast<unsigned long>(rest / 60 % 60), 10, 2);
    out.add(":");
    out.addNumber(static_cast<unsigned long>(rest % 60), 10, 2);
    out.add(" UTC");
}

void writeReport(int signal, siginfo_t* info, long now)
{
    // crash-<time>-<pid>.txt; a restarted program keeps its pid and may crash
    // within the same second, so its report is crash-<time>-<pid>-<restarts>.txt.
    Buffer path;
    path.add(s_folder);
    path.add("/crash-");
    path.addNumber(static_cast<unsigned long>(now));
    path.add("-");
    path.addNumber(static_cast<unsigned long>(::getpid()));
    if (s_restarts > 0) {
        path.add("-");
        path.addNumber(static_cast<unsigned long>(s_restarts));
    }
    path.add(".txt");
    if (path.size >= sizeof(path.data))
        return;
    path.data[path.size] = '\0';
    const int fd = ::open(path.data, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return;

    Buffer out;
    out.add(s_appName);
    out.add(" crash report\nprogram: ");
    out.add(s_executable);
    out.add("\nversion: " QUILLET_VERSION "\ntime: ");
    addUtcTime(out, now);
    out.add("\nsignal: ");
    out.addNumber(static_cast<unsigned long>(signal));
    out.add(" ");
    out.add(signalName(signal));
    out.add("\ncode: ");
    out.addSigned(info ? info->si_code : 0);
    if (info && info->si_code <= 0) {
        out.add(" (sent by process ");
        out.addSigned(info->si_pid);
        out.add(")");
    }
    if (info && info->si_code > 0) {
        out.add("\naddress: 0x");
        out.addNumber(reinterpret_cast<unsigned long>(info->si_addr), 16);
    }
    out.add("\nrestarted: ");
    out.add(s_restarts > 0 ? "after an earlier crash" : "no");
    out.add("\nbacktrace:\n");
    out.writeTo(fd);

    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
}

void restart()
{
    Buffer entry;
    entry.add(kRestartVariable);
    entry.addNumber(static_cast<unsigned long>(s_restarts + 1));
    std::memcpy(s_restartEntry, entry.data, std::min(entry.size, sizeof(s_restartEntry) - 1));
    s_restartEntry[std::min(entry.size, sizeof(s_restartEntry) - 1)] = '\0';

    size_t n = 0;
    for (char** e = environ; e && *e && n + 2 < sizeof(s_env) / sizeof(s_env[0]); ++e) {
        if (std::strncmp(*e, kRestartVariable, sizeof(kRestartVariable) - 1) != 0)
            s_env[n++] = *e;
    }
    s_env[n++] = s_restartEntry;
    s_env[n] = nullptr;

    // The new program starts with every signal deliverable and none of this
    // one's files but the standard ones.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
#endif
    {
        for (int fd = 3; fd < 4096; ++fd)
            ::close(fd);
    }
    ::execve(s_executable, s_argv, s_env);
}

void onFatalSignal(int signal, siginfo_t* info, void* /*context*/)
{
    // A core file would hold the document's text and the login token: none is
    // written from here on, even when the handler itself faults. (A restarted
    // program is dumpable again: execve resets the flag.)
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);

    struct timespec ts = {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const long now = static_cast<long>(ts.tv_sec);

    if (s_folder[0])
        writeReport(signal, info, now);

    if (s_restarts < kMaxRestarts && s_executable[0] && s_argv[0])
        restart();

    // No restart (or it failed): end as the signal would have, without a core.
    // The handler was reset to the default action on entry.
    const struct rlimit noCore = {0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::raise(signal);
}

// Keeps the newest keep - 1 reports of folder, so that with the next crash's
// there are keep at most. Other files are left alone.
void pruneReports(const QString& folder, int keep)
{
    QFileInfoList reports =
        QDir(folder).entryInfoList({QStringLiteral("crash-*.txt")}, QDir::Files | QDir::NoSymLinks | QDir::Hidden);
    std::sort(reports.begin(), reports.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        return ta != tb ? ta > tb : a.fileName() > b.fileName();
    });
    for (int i = keep - 1; i < reports.size(); ++i)
        QFile::remove(reports.at(i).filePath());
}

// --- An alternate signal stack for every thread of the process ---

struct AlternateStack
{
    void* memory = nullptr;

    void install()
    {
        void* p = ::mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return;
        stack_t stack = {};
        stack.ss_sp = p;
        stack.ss_size = kAlternateStackSize;
        if (::sigaltstack(&stack, nullptr) != 0) {
            ::munmap(p, kAlternateStackSize);
            return;
        }
        memory = p;
    }
    ~AlternateStack()
    {
        if (!memory)
            return;
        stack_t off = {};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        ::munmap(memory, kAlternateStackSize);
    }
};

thread_local AlternateStack t_alternateStack;

struct ThreadStart
{
    void* (*routine)(void*);
    void* argument;
};

void* startWithAlternateStack(void* data)
{
    const ThreadStart start = *static_cast<ThreadStart*>(data);
    delete static_cast<ThreadStart*>(data);
    t_alternateStack.install();
    return start.routine(start.argument);
}

bool prepareCommandLine()
{
    const ssize_t length = ::readlink("/proc/self/exe", s_executable, sizeof(s_executable) - 1);
    if (length <= 0)
        return false;
    s_executable[length] = '\0';

    const int fd = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t size = ::read(fd, s_commandLine, sizeof(s_commandLine) - 1);
    ::close(fd);
    if (size <= 0)
        return false;
    s_commandLine[size] = '\0';
    size_t argc = 0;
    for (ssize_t i = 0; i < size && argc + 1 < sizeof(s_argv) / sizeof(s_argv[0]);) {
        s_argv[argc++] = s_commandLine + i;
        i += static_cast<ssize_t>(std::strlen(s_commandLine + i)) + 1;
    }
    s_argv[argc] = nullptr;
    return argc > 0;
}

} // namespace

bool installCrashReporter(const char* appName)
{
    if (s_installed)
        return true;
    std::strncpy(s_appName, appName ? appName : "", sizeof(s_appName) - 1);

    // The count is the handler's to pass on: programs this one starts do not
    // inherit it.
    if (const char* restarts = std::getenv(kRestartName))
        s_restarts = std::max(0L, std::strtol(restarts, nullptr, 10));
    ::unsetenv(kRestartName);

    // <Documents>/Quillet/crash, both levels created; without a Documents
    // folder there are no reports, but a crash still restarts the program.
    s_folder[0] = '\0';
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QStringLiteral("/Quillet/crash");
    const QByteArray encoded = QFile::encodeName(folder);
    if (!documents.isEmpty() && QDir(documents).exists() && QDir().mkpath(folder) &&
        encoded.size() < static_cast<int>(sizeof(s_folder)))
        std::memcpy(s_folder, encoded.constData(), static_cast<size_t>(encoded.size()) + 1);
    if (s_folder[0])
        pruneReports(folder, kMaxReports);

    if (!prepareCommandLine())
        s_executable[0] = '\0';

    // backtrace() loads its unwinder on first use: do that now, not in the handler.
    void* frame[1];
    ::backtrace(frame, 1);

    stack_t stack = {};
    stack.ss_sp = s_alternateStack;
    stack.ss_size = sizeof(s_alternateStack);
    ::sigaltstack(&stack, nullptr);

    struct sigaction action = {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &action, &s_previous[i]);
    s_installed = true;
    return s_folder[0] != '\0';
}

void uninstallCrashReporter()
{
    if (!s_installed)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &s_previous[i], nullptr);
    s_installed = false;
}

const char* crashReportFolder()
{
    return s_folder;
}

// Every thread of the program (Qt's, the office bridge's, the libraries')
// starts through this one, which gives the thread its alternate signal stack
// before running it: the program's definition takes the place of the C
// library's for the libraries it loads as well.
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const Create create = reinterpret_cast<Create>(::dlsym(RTLD_NEXT, "pthread_create"));
    if (!create)
        return EAGAIN;
    auto* start = new (std::nothrow) ThreadStart{routine, argument};
    if (!start)
        return create(thread, attributes, routine, argument);
    const int result = create(thread, attributes, startWithAlternateStack, start);
    if (result != 0)
        delete start;
    return result;
}
