// The core's console lines: the few texts the foundation and the protocol
// clients print beside their traces ("Thread running", "TCP_CONNECT_IND:",
// "DataIn: …"). They all pass through here, so that a program decides where
// they go instead of working around descriptors 1 and 2.
//
// Threads: CoreOutput may be called from any thread; each text reaches the
// target whole and in call order. SetCoreOutput may be called at any time;
// once it returns, no text goes to the previous target any more.
#pragma once

#include <functional>
#include <string_view>

// The stream a line belongs to; by default the process's standard output
// and standard error.
enum class CoreStream
{
    Out,
    Err,
};

using CoreOutputTarget = std::function<void(CoreStream stream, std::string_view text)>;

// Sets where the core's lines go; an empty target restores the default. The
// target runs under the sink's lock: it must not call CoreOutput itself.
void SetCoreOutput(CoreOutputTarget target);

// Hands one text to the target. The default writes it to stdout (and
// flushes, so that the line is out before anything that follows it) or to
// the unbuffered stderr.
void CoreOutput(CoreStream stream, std::string_view text);

// printf-style; the text is cut to fit a 256-byte buffer, terminating zero
// included.
void CoreOutputF(CoreStream stream, const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
