// Exported driver frame (placeholder until the frame lands).
#include "vtinkdrv.h"
#include "vtlog.h"
