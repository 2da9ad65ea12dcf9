// A subsystem that reaches into another's window: the include check must refuse it.
#include "remote/remote_window.h"
#include "shell/roster.h"
