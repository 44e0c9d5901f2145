#pragma once

// Test builds only: with VTINKHOST_TEST_REPORT set, the program reports its
// tray and menu state on stderr ("vt-test: ..."), and a few platform facts
// (distribution, installed-entries folder, the site question's timeout) can
// be pointed elsewhere. Without VT_DESKTOP_TEST_HOOKS both are inert.
#include <QString>

#ifdef VT_DESKTOP_TEST_HOOKS
void VtDesktopTrace(const QString& line);
// The environment variable's value when set, else value.
QString VtDesktopOverride(const char* envName, const QString& value);
#else
inline void VtDesktopTrace(const QString&) {}
inline QString VtDesktopOverride(const char*, const QString& value) { return value; }
#endif
