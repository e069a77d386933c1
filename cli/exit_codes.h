#pragma once
// vindlectl's exit status: 0 all done, 1 something failed (the output says
// what), 2 usage error (nothing was sent).

inline constexpr int EXIT_ALL_DONE = 0;
inline constexpr int EXIT_SOME_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;
