#pragma once

#include <QtGlobal>

#if defined(SCHOLIA_LIBRARY)
#define SCHOLIA_EXPORT Q_DECL_EXPORT
#else
#define SCHOLIA_EXPORT Q_DECL_IMPORT
#endif
