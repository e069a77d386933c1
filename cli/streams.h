#pragma once
// vindlectl's two output streams. The core writes traces of its own to the
// process's standard output and error ("TCP_CONNECT_IND:", "Msg: 4"); a
// script reading vindlectl's results must not see them. So the program
// keeps duplicates of both descriptors for its own results and messages,
// and points descriptors 1 and 2 at /dev/null (or, verbose, at the real
// standard error) for everything else. Called once on the main thread
// before any other thread starts.

#include <cstdio>

void SeparateCoreOutput(bool verbose);
// Where results go (standard output) and where progress and messages go
// (standard error); the plain streams until SeparateCoreOutput ran.
std::FILE* ResultStream();
std::FILE* MessageStream();
