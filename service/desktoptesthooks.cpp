#include "desktoptesthooks.h"

#ifdef VT_DESKTOP_TEST_HOOKS
#include <cstdio>

void VtDesktopTrace(const QString& line)
{
    if (qEnvironmentVariableIsEmpty("VTINKHOST_TEST_REPORT"))
        return;
    std::fprintf(stderr, "vt-test: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString VtDesktopOverride(const char* envName, const QString& value)
{
    return qEnvironmentVariableIsSet(envName) ? qEnvironmentVariable(envName) : value;
}
#endif
