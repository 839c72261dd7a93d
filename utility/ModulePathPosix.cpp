#include "utility/ModulePath.h"

#include <dlfcn.h>

QString modulePathOf(const void* address)
{
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return QString();
    return QString::fromLocal8Bit(info.dli_fname);
}
