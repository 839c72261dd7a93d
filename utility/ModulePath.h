#pragma once

#include <QString>

// The full file name of the executable or shared library that holds address;
// empty when it cannot be told. One implementation per platform.
QString modulePathOf(const void* address);
