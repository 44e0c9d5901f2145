// Exported SDK frame (placeholder until the frame lands).
#include "vtinksdk.h"
#include "vtlog.h"
