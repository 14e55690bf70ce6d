// decode_error.h - where a job stream stopped making sense, for the messages
// of the tests and of qvinspect.
#pragma once

#include <cstddef>
#include <string>

namespace qvdecode {

// What went wrong and where: the byte offset in the job, the page (1-based,
// 0 outside pages), and a sentence saying what was expected. `block` and
// `row` narrow a fault inside a mono page down (0 and -1 when they do not
// apply; `row` is the 0-based printer row of a mono page or line of a PWG
// page).
struct DecodeError {
  std::size_t offset = 0;
  int page = 0;
  std::string message;
  std::size_t block = 0;
  long row = -1;
};

// "offset 48213 (page 2, block 7, row 96): <message>"; the parts in brackets
// appear only when they are known.
std::string describeError(const DecodeError& error);

// Sets every field of `error` and returns -1, so that a decoder can write
// `return fail(error, at, "...")`.
int fail(DecodeError& error, std::size_t offset, std::string message);

}  // namespace qvdecode
