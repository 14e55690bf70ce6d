// pipe_chunks_test.cc - a filter fed through a pipe in random chunks, with pauses, gives the bytes
// of the same job read from a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/support/colour_printer.h"

namespace {

qvtest::ProgramResult fromFile(qvtest::ProgramRun run, const std::string& file) {
  run.args.insert(run.args.begin(), {"-c", "exec \"$0\" \"$@\" <" + file, run.path});
  run.path = "/bin/bash";
  run.input.clear();
  return qvtest::runProgram(run);
}

qvtest::ProgramResult fromChunks(const qvtest::ProgramRun& run, unsigned seed) {
  std::mt19937 rng(seed);
  qvtest::RunningProgram program(run);
  for (std::size_t at = 0, n; at < run.input.size(); at += n) {
    n = std::min<std::size_t>(1 + rng() % 150000, run.input.size() - at);
    if (!program.writeInput(std::string_view(run.input).substr(at, n))) break;
    if (rng() % 4 == 0) program.pump(static_cast<int>(rng() % 3));
  }
  return program.wait();
}

void expectSameBytes(const qvtest::ProgramRun& run, const std::string& dir) {
  const std::string file = dir + "/job";
  qvtest::writeFile(file, run.input);
  const qvtest::ProgramResult whole = fromFile(run, file);
  ASSERT_EQ(0, whole.status) << whole.err;
  for (unsigned seed = 1; seed <= 4; ++seed) {
    const qvtest::ProgramResult chunked = fromChunks(run, seed);
    EXPECT_TRUE(chunked.status == 0 && chunked.err == whole.err && chunked.out == whole.out)
        << "seed " << seed << ": " << chunked.err;
  }
}

// Four pages with copies, and a short one.
TEST(PipeChunks, ColourJob) {
  constexpr int kWidth = 600, kHeight = 400;
  const colourtest::TestPrinter printer(kWidth, kHeight, "Copies=2\n");
  std::mt19937 rng(3);
  std::string input;
  for (int p = 0; p < 4; ++p)
    input += colourtest::ppmPage(kWidth, kHeight, colourtest::randomPage(rng, kWidth, kHeight));
  input += colourtest::ppmPage(kWidth, kHeight, std::string(kWidth * 3 * 100, '\x40'));  // short
  expectSameBytes(printer.run(input), printer.dir().path());
}

// Three whole pages and a short one of sparse noise.
TEST(PipeChunks, MonoJob) {
  const qvtest::ScopedTempDir dir;
  qvtest::writeFile(dir.file("rc"), "[QV]\nPaperType=A4\n");
  std::mt19937 rng(11);
  std::string input(3 * 300 * 3000 + 123457, '\0');
  std::ranges::generate(input, [&rng] { return static_cast<char>(rng() & rng() & rng()); });
  expectSameBytes({RAWTOQV_PATH, {"-rc", dir.file("rc"), "-ps", "2400x3000"}, {}, input},
                  dir.path());
}

}  // namespace
