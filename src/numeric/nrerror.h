#pragma once
// The fatal numerical stop: allocation failure, or a failure inside the
// LU decomposition or the incomplete gamma routines.

// Writes the three-line message to standard error and ends the process with status 1.
[[noreturn]] void nrerror(const char* error_text);
