// The one header that tells the two sides apart: it brings in the side's
// native socket names (Winsock-style on both, so that the endpoint code reads
// the same everywhere) and the type of a native handle that the readiness
// wait works on.
#pragma once

#ifdef _WIN32
#include "platform/win32/native_types.h"
#else
#include "platform/posix/native_types.h"
#endif
