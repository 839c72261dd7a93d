#include "crash/CrashReporter.h"

#include <QDir>
#include <QStandardPaths>

#include <windows.h>
#include <dbghelp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

// An unhandled-exception filter: a minidump (MiniDumpWriteDump) and a text
// report into <Documents>\Quillet\crash, then the program once more. Paths and
// the command line are prepared at installation; the filter formats into
// fixed buffers.
namespace {

// A crash this soon after a restart is not restarted again.
const long long kRestartWindowSeconds = 10;
const wchar_t kRestartVariable[] = L"QUILLET_CRASH_RESTARTED_AT";

bool s_installed = false;
wchar_t s_folder[MAX_PATH * 2];
char s_folderUtf8[MAX_PATH * 4];
char s_appName[64];
wchar_t s_executable[MAX_PATH * 2];
long long s_restartedAt = 0;
LPTOP_LEVEL_EXCEPTION_FILTER s_previous = nullptr;

long long nowSeconds()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER t;
    t.LowPart = ft.dwLowDateTime;
    t.HighPart = ft.dwHighDateTime;
    return static_cast<long long>(t.QuadPart / 10000000ULL) - 11644473600LL;
}

const char* exceptionName(DWORD code)
{
    switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
        return "EXCEPTION_ACCESS_VIOLATION";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
        return "EXCEPTION_ILLEGAL_INSTRUCTION";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
        return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_STACK_OVERFLOW:
        return "EXCEPTION_STACK_OVERFLOW";
    case EXCEPTION_IN_PAGE_ERROR:
        return "EXCEPTION_IN_PAGE_ERROR";
    case EXCEPTION_PRIV_INSTRUCTION:
        return "EXCEPTION_PRIV_INSTRUCTION";
    case EXCEPTION_BREAKPOINT:
        return "EXCEPTION_BREAKPOINT";
    case 0xC0000409:
        return "STATUS_STACK_BUFFER_OVERRUN";
    default:
        return "exception";
    }
}

// "module+0xoffset" of an address, or the bare address.
void describeAddress(char* out, size_t size, const void* address)
{
    HMODULE module = nullptr;
    char path[MAX_PATH] = {};
    if (address &&
        GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(address), &module) &&
        GetModuleFileNameA(module, path, MAX_PATH)) {
        const char* name = std::strrchr(path, '\\');
        std::snprintf(out, size, "%s+0x%llx", name ? name + 1 : path,
                      static_cast<unsigned long long>(reinterpret_cast<const char*>(address) -
                                                      reinterpret_cast<const char*>(module)));
    } else {
        std::snprintf(out, size, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
    }
}

void writeDump(EXCEPTION_POINTERS* info, long long now)
{
    const DWORD pid = GetCurrentProcessId();
    wchar_t path[MAX_PATH * 2 + 64];
    std::swprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\crash-%lld-%lu.dmp", s_folder, now,
                  static_cast<unsigned long>(pid));
    HANDLE dump = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (dump != INVALID_HANDLE_VALUE) {
        MINIDUMP_EXCEPTION_INFORMATION exception = {};
        exception.ThreadId = GetCurrentThreadId();
        exception.ExceptionPointers = info;
        exception.ClientPointers = FALSE;
        MiniDumpWriteDump(GetCurrentProcess(), pid, dump,
                          static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo),
                          info ? &exception : nullptr, nullptr, nullptr);
        CloseHandle(dump);
    }
}

// The text report comes first: it is small and sure, the dump may take a while.
void writeReport(EXCEPTION_POINTERS* info, long long now)
{
    const DWORD pid = GetCurrentProcessId();
    wchar_t path[MAX_PATH * 2 + 64];
    std::swprintf(path, sizeof(path) / sizeof(path[0]), L"%ls\\crash-%lld-%lu.txt", s_folder, now,
                  static_cast<unsigned long>(pid));
    HANDLE text = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (text == INVALID_HANDLE_VALUE)
        return;
    const DWORD code = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0;
    const void* address = info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionAddress : nullptr;
    char where[MAX_PATH + 64];
    describeAddress(where, sizeof(where), address);
    SYSTEMTIME st;
    GetSystemTime(&st);
    char report[4096];
    int n = std::snprintf(report, sizeof(report),
                          "%s crash report\r\nversion: " QUILLET_VERSION
                          "\r\ntime: %04u-%02u-%02u %02u:%02u:%02u UTC\r\nexception: 0x%08lx %s\r\naddress: %s\r\n"
                          "restarted: %s\r\nminidump: crash-%lld-%lu.dmp\r\n",
                          s_appName, st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond,
                          static_cast<unsigned long>(code), exceptionName(code), where,
                          s_restartedAt ? "after an earlier crash" : "no", now, static_cast<unsigned long>(pid));
    if (n > 0 && n < static_cast<int>(sizeof(report))) {
        DWORD written = 0;
        WriteFile(text, report, static_cast<DWORD>(n), &written, nullptr);
    }
    CloseHandle(text);
}

void restart(long long now)
{
    wchar_t value[32];
    std::swprintf(value, 32, L"%lld", now);
    SetEnvironmentVariableW(kRestartVariable, value);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    // CreateProcessW may write into the command line: give it a copy.
    static wchar_t commandLine[32768];
    std::wcsncpy(commandLine, GetCommandLineW(), 32767);
    if (CreateProcessW(s_executable, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info)
{
    const long long now = nowSeconds();
    // The report first, then the program again (the user need not wait for
    // the dump, which can take a while), then the dump.
    if (s_folder[0])
        writeReport(info, now);
    const bool justRestarted = s_restartedAt != 0 && now - s_restartedAt < kRestartWindowSeconds;
    if (!justRestarted && s_executable[0])
        restart(now);
    if (s_folder[0])
        writeDump(info, now);
    // End the process as the crash would have.
    return EXCEPTION_EXECUTE_HANDLER;
}

} // namespace

bool installCrashReporter(const char* appName)
{
    if (s_installed)
        return s_folder[0] != L'\0';
    std::snprintf(s_appName, sizeof(s_appName), "%s", appName ? appName : "");

    wchar_t restarted[32] = {};
    if (GetEnvironmentVariableW(kRestartVariable, restarted, 32) > 0)
        s_restartedAt = std::wcstoll(restarted, nullptr, 10);
    // The child of a restart must not inherit the mark a second time unchanged.
    SetEnvironmentVariableW(kRestartVariable, nullptr);

    s_folder[0] = L'\0';
    s_folderUtf8[0] = '\0';
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString folder = documents + QStringLiteral("/Quillet/crash");
    if (!documents.isEmpty() && QDir(documents).exists() && QDir().mkpath(folder)) {
        const std::wstring native = QDir::toNativeSeparators(folder).toStdWString();
        const QByteArray utf8 = folder.toUtf8();
        if (native.size() < sizeof(s_folder) / sizeof(s_folder[0]) &&
            static_cast<size_t>(utf8.size()) < sizeof(s_folderUtf8)) {
            std::wcscpy(s_folder, native.c_str());
            std::memcpy(s_folderUtf8, utf8.constData(), static_cast<size_t>(utf8.size()) + 1);
        }
    }
    const DWORD length = GetModuleFileNameW(nullptr, s_executable, sizeof(s_executable) / sizeof(s_executable[0]));
    if (length == 0 || length >= sizeof(s_executable) / sizeof(s_executable[0]))
        s_executable[0] = L'\0';

    // dbghelp is loaded now, not inside the filter.
    LoadLibraryW(L"dbghelp.dll");
    s_previous = SetUnhandledExceptionFilter(onUnhandledException);
    s_installed = true;
    return s_folder[0] != L'\0';
}

void uninstallCrashReporter()
{
    if (!s_installed)
        return;
    SetUnhandledExceptionFilter(s_previous);
    s_installed = false;
}

const char* crashReportFolder()
{
    return s_folderUtf8;
}
