// copy_file.h - the scratch file that holds a copy of a sorted job's PCL
// stream for its replays.
#pragma once

namespace qv::mono {

// Opens a new, empty scratch file in directory `dir` for reading and
// writing. Where the file system allows it the file never has a name
// (O_TMPFILE); otherwise it is created exclusively, mode 0600, under
// "rawtoqv_tmp_<ticks>_<pid>_<random>" and unlinked at once, with signals
// blocked in between, so that no name can be planted in its way and nothing
// is left however the process ends. `allowNameless` false skips the first
// way (for tests). Returns the descriptor (close-on-exec) or -1.
int openCopyFile(const char* dir, bool allowNameless = true);

}  // namespace qv::mono
