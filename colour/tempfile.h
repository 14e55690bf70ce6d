// tempfile.h - scratch files of the colour filter: the page files and the
// copies file that holds a page's pixels while its uncollated copies are sent.
//
// A scratch file holds a customer's page, so no other user may reach it or
// plant a name that it would use, and nothing of it may stay behind however
// the process ends.
#pragma once

namespace qv::colour {

// The scratch directory: `tmpdir` when given and not empty (CUPS gives each
// filter a private $TMPDIR), else "/tmp".
const char* scratchDirectory(const char* tmpdir);

// Opens a scratch file for reading and writing in `dir`: without a name
// (O_TMPFILE) where the file system allows it, else as openNamedScratchFile.
// Returns the descriptor, or -1 with errno set.
int openScratchFile(const char* dir, const char* namePrefix);

// The fallback: creates "<dir>/<namePrefix><12 random hex digits>"
// exclusively with mode 0600, never through a link, and removes the name at
// once, with every signal blocked from create to unlink. Tries again while a
// name exists. Returns the descriptor, or -1 with errno set.
int openNamedScratchFile(const char* dir, const char* namePrefix);

// The copies file: name prefix "%08lx%05lx" (seconds and microseconds of the
// time of day).
int myTempFd(const char* dir);

}  // namespace qv::colour
