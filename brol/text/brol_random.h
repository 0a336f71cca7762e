// The process-wide pseudo-random generator: random text for names (random string tails, maildir file
// names, temporary files). Not for secrets.
#pragma once

#include <cstdint>

// The next 64-bit value of the one generator of the process. It is seeded once, on first use, from the
// clock, the process id and an address of the running program, mixed; it is never seeded again, so two
// calls in the same second give different values. Safe to call from several threads at once: each call
// draws its own value.
std::uint64_t brol_random_next() noexcept;

// Writes n bytes to destination, each a letter (A to Z, a to z) or a digit, drawn from the generator.
// No NUL is written. A null destination or n <= 0 writes nothing.
void brol_random_alnum(char* destination, std::int64_t n) noexcept;
