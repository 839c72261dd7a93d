#include "utility/ModulePath.h"

#include <windows.h>

QString modulePathOf(const void* address)
{
    HMODULE module = nullptr;
    if (!address ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return QString();
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(module, path, sizeof(path) / sizeof(path[0]));
    if (length == 0 || length >= sizeof(path) / sizeof(path[0]))
        return QString();
    return QString::fromWCharArray(path, static_cast<int>(length));
}
