#pragma once

// The crash reporter: on a fatal signal (segmentation fault, bus error,
// illegal instruction, floating-point exception, abort) it writes a report
// (signal, address, backtrace, program version, time) into
// <Documents>/Quillet/crash and starts the program again, once for each time
// the user started it: a restarted program that crashes again ends. The newest
// 20 reports are kept. Once the handler has run, no core file is written (it
// would hold the document's text and the login token). Every thread of the
// program gets an alternate signal stack, so a stack overflow on any thread
// is reported too. The report stays on this computer; nothing is sent
// anywhere.
//
// One implementation per platform, chosen by the build.

// Installs the handlers. appName names the program in the reports. Returns
// false when there is no Documents folder (the program then runs without
// reports) or the handlers cannot be installed.
bool installCrashReporter(const char* appName);

// Removes the handlers; does nothing when they are not installed.
void uninstallCrashReporter();

// The folder reports are written to; empty when none.
const char* crashReportFolder();
