// The emulator itself, seen through plain libusb in this process and through
// the driver in child processes.
#include "drvtest.h"

TEST(Padsim, Placeholder) {}
