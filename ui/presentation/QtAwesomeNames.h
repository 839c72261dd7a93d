#pragma once

#include "ScholiaGlobal.h"

// The icon names of the FontAwesome 4.7.0 font and their code points, generated
// at build time from the font's stylesheet (resources/tools/fontawesome_names.py).
// Names are the published names without hyphens; "fa_500px", "fa_linux" and
// "fa_try" carry a prefix. Several names may share a code point.
struct QtAwesomeName
{
    const char* name;
    int codePoint;
};

extern SCHOLIA_EXPORT const QtAwesomeName qtAwesomeNames[];
extern SCHOLIA_EXPORT const int qtAwesomeNameCount;
