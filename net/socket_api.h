// Forwards to the platform's socket layer, for the code that still includes
// it by this name.
#pragma once

#include "platform/socket.h"
