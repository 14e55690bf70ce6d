// tempfile.h - the copies file that holds a page's pixels while its
// uncollated copies are sent.
#pragma once

#include <cstddef>

// Creates "<TMPDIR or /tmp>/%08lx%05lx" (seconds and microseconds of the time
// of day) exclusively, O_NOFOLLOW, mode 0600, for reading and writing. Tries
// up to 1000 names while they exist already. The name is written into `path`
// (at most size - 1 characters); with a null `path` a 1024-byte buffer kept
// for the process is used. Returns the descriptor, or a negative value.
int myTempFd(char* path, std::size_t size);
