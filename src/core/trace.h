#pragma once
// Diagnostic trace lines, apart from the message log.

namespace tsn {

// Formats one diagnostic line (at most 32767 bytes) and writes it to stderr,
// or to the descriptor SetTraceOutput gave (none when it is negative): a
// fuzzer meets millions of damaged records and has no use for their lines.
int TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetTraceOutput(int fd);

}  // namespace tsn
