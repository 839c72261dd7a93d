#include "crash/CrashReporter.h"

#include <QByteArray>
#include <QDir>
#include <QStandardPaths>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char** environ;

// Everything the signal handler needs is prepared at installation, in static
// buffers: in the handler only async-signal-safe calls are made (open, write,
// close, clock_gettime, sigprocmask, execve, raise) and nothing is allocated.
namespace {

const int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
const int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
// A crash this soon after a restart is not restarted again.
const long kRestartWindowSeconds = 10;
const char kRestartVariable[] = "QUILLET_CRASH_RESTARTED_AT=";

bool s_installed = false;
char s_folder[2048];
char s_appName[64];
char s_executable[2048];
char s_commandLine[8192];
char* s_argv[256];
char* s_env[1024];
char s_restartEntry[64];
long s_restartedAt = 0;
struct sigaction s_previous[kSignalCount];
alignas(16) char s_alternateStack[64 * 1024];

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
    Buffer path;
    path.add(s_folder);
    path.add("/crash-");
    path.addNumber(static_cast<unsigned long>(now));
    path.add("-");
    path.addNumber(static_cast<unsigned long>(::getpid()));
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
    out.add(s_restartedAt ? "after an earlier crash" : "no");
    out.add("\nbacktrace:\n");
    out.writeTo(fd);

    void* frames[64];
    const int count = ::backtrace(frames, 64);
    ::backtrace_symbols_fd(frames, count, fd);
    ::close(fd);
}

void restart(long now)
{
    Buffer entry;
    entry.add(kRestartVariable);
    entry.addNumber(static_cast<unsigned long>(now));
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
    struct timespec ts = {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    const long now = static_cast<long>(ts.tv_sec);

    if (s_folder[0])
        writeReport(signal, info, now);

    const bool justRestarted = s_restartedAt != 0 && now - s_restartedAt < kRestartWindowSeconds;
    if (!justRestarted && s_executable[0] && s_argv[0])
        restart(now);

    // No restart (or it failed): end as the signal would have. The handler was
    // reset to the default action on entry.
    ::raise(signal);
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

    if (const char* restarted = std::getenv("QUILLET_CRASH_RESTARTED_AT"))
        s_restartedAt = std::strtol(restarted, nullptr, 10);

    // <Documents>/Quillet/crash, both levels created; without a Documents
    // folder there are no reports, but a crash still restarts the program.
    s_folder[0] = '\0';
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QStringLiteral("/Quillet/crash");
    const QByteArray encoded = QFile::encodeName(folder);
    if (!documents.isEmpty() && QDir(documents).exists() && QDir().mkpath(folder) &&
        encoded.size() < static_cast<int>(sizeof(s_folder)))
        std::memcpy(s_folder, encoded.constData(), static_cast<size_t>(encoded.size()) + 1);

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
