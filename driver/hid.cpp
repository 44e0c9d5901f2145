// Q210/Q220 HID pad family (placeholder until its protocol lands).
#include "families.h"
