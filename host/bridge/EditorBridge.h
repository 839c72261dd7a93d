#pragma once

#include "bridge/ClientHelper.h"

#include <memory>

// The editor bridge of the platform this program is built for (on X11:
// LibreOffice Writer). Defined by the platform's backend, chosen in
// cmake/QuilletPlatform.cmake.
std::unique_ptr<ClientHelper> createEditorBridge();
