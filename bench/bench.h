// The benchmark sections. Each prints its own results on standard output.
#pragma once

#include <string>

// The size tree: inserting and looking up n distinct sizes in the order a
// scan meets them, for n = 10^4, 10^5 and 10^6, with the plain chain walk
// for reference.
void bench_tree(void);

// Hashing throughput of one large file written under tmpDir.
void bench_hash(const std::string &tmpDir);
