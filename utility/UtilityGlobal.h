#pragma once

#include <QtGlobal>

#if defined(UTILITY_LIBRARY)
#define UTILITY_EXPORT Q_DECL_EXPORT
#else
#define UTILITY_EXPORT Q_DECL_IMPORT
#endif
