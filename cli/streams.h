#pragma once
// vindlectl's two output streams. The core prints lines of its own
// ("TCP_CONNECT_IND:", "Msg: 4"); a script reading vindlectl's results
// must not see them, so they are dropped, or, verbose, written to standard
// error. Results go to standard output, progress and messages to standard
// error.

#include <cstdio>

// Routes the core's lines as above; called once on the main thread before
// any other thread starts.
void SeparateCoreOutput(bool verbose);
// Where results go (standard output) and where progress and messages go
// (standard error).
std::FILE* ResultStream();
std::FILE* MessageStream();
