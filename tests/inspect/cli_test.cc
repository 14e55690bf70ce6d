// cli_test.cc - the qvinspect binary: options, inputs, exit statuses and
// messages, and that no input makes it crash.
#include "inspect/cli.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/decode/hand_jobs.h"
#include "tests/support/run_program.h"

namespace {

using qvtest::Bytes;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

qvtest::ProgramResult run(std::vector<std::string> args, std::string input = {}) {
  qvtest::ProgramRun program;
  program.path = QVINSPECT_PATH;
  program.args = std::move(args);
  program.input = std::move(input);
  return qvtest::runProgram(program);
}

std::string firstLine(const std::string& s) { return s.substr(0, s.find('\n')); }

TEST(QvinspectCli, StatusAndMessagePerKindOfInput) {
  qvtest::ScopedTempDir dir;
  const std::string good = dir.file("good.prn");
  qvtest::writeFile(good, text(qvtest::workedMonoJob()));
  Bytes cut = qvtest::workedMonoJob();
  cut.resize(cut.size() - 30);
  const std::string truncated = dir.file("cut.prn");
  qvtest::writeFile(truncated, text(cut));
  const std::string other = dir.file("letter.txt");
  qvtest::writeFile(other, "Dear printer,\n");
  struct Case {
    const char* why;
    std::vector<std::string> args;
    std::string input;
    int status;
    std::string err;  // start of the first stderr line
    std::string out;  // start of stdout
  };
  const Case cases[] = {
      {"good job, report", {good}, "", 0, "", good + ": mono job, 364 bytes, 1 page"},
      {"good job on stdin",
       {"--check"},
       text(qvtest::workedMonoJob()),
       0,
       "",
       "<stdin>: OK: mono job, every page readable"},
      {"\"-\" is stdin",
       {"--check", "-"},
       text(qvtest::colourJob(qvtest::grayPage())),
       0,
       "",
       "<stdin>: OK: colour job"},
      {"truncated job",
       {truncated},
       "",
       1,
       "qvinspect: " + truncated + ": damaged or truncated",
       truncated + ": mono job"},
      {"truncated job, check", {"--check", truncated}, "", 1, truncated + ": offset ", ""},
      {"neither kind", {other}, "", 1, "qvinspect: " + other + ": not a QV job", ""},
      {"empty input", {}, "", 1, "qvinspect: <stdin>: not a QV job: the input is empty", ""},
      {"missing file",
       {dir.file("none.prn")},
       "",
       3,
       "qvinspect: cannot read " + dir.file("none.prn") + ": No such file",
       ""},
      {"a directory", {dir.path()}, "", 3, "qvinspect: cannot read " + dir.path(), ""},
      {"unknown option", {"--colour"}, "", 2, "qvinspect: unknown option --colour", ""},
      {"--png without a directory", {"--png"}, "", 2, "qvinspect: --png needs a directory", ""},
      {"two inputs", {good, good}, "", 2, "qvinspect: one job at a time", ""},
      {"preview into a missing directory",
       {"--pnm", dir.file("no/such"), good},
       "",
       4,
       "qvinspect: cannot create " + dir.file("no/such"),
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const qvtest::ProgramResult result = run(c.args, c.input);
    ASSERT_TRUE(result.exited());
    EXPECT_EQ(c.status, result.status) << result.err;
    EXPECT_EQ(0u, firstLine(result.err).rfind(c.err, 0)) << result.err;
    EXPECT_EQ(0u, result.out.rfind(c.out, 0)) << result.out;
  }
}

TEST(QvinspectCli, CheckNamesOffsetPageBlockAndRow) {
  std::string job = text(qvtest::workedMonoJob());
  job.replace(job.find("\x82\xFF"), 2, "\xFF\xFF");  // a run whose extensions eat the block
  const qvtest::ProgramResult result = run({"--check"}, job);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(0u, result.err.rfind("<stdin>: offset ", 0)) << result.err;
  EXPECT_NE(std::string::npos, result.err.find(" (page 1, block 1, row ")) << result.err;
  EXPECT_TRUE(result.out.empty());
}

TEST(QvinspectCli, PreviewFilesAreNamedAfterTheJob) {
  qvtest::ScopedTempDir dir;
  const std::string job = dir.file("sample.mono.prn");
  qvtest::writeFile(job, text(qvtest::workedMonoJob()));
  const qvtest::ProgramResult result = run({"--png", dir.path(), job});
  EXPECT_EQ(0, result.status) << result.err;
  EXPECT_EQ(0u, qvtest::readFile(dir.file("sample.mono-page-001.png")).rfind("\x89PNG", 0));
}

// Random bytes behind a good beginning, and good jobs with bytes changed:
// the program always ends with a status, never by a signal.
TEST(QvinspectCli, NeverCrashes) {
  std::mt19937 rng(7);
  for (int round = 0; round < 24; ++round) {
    std::string input = round % 2 == 0 ? text(qvtest::workedMonoJob())
                                       : text(qvtest::colourJob(qvtest::grayPage()));
    if (round % 3 == 0) input.resize(input.size() / 2 + rng() % (input.size() / 2));
    for (std::size_t n = rng() % 6 + 1; n > 0; --n) {
      input[rng() % input.size()] = static_cast<char>(rng());
    }
    const qvtest::ProgramResult result = run({"--json"}, input);
    ASSERT_TRUE(result.exited()) << "signal " << result.termSignal;
    EXPECT_TRUE(result.status == 0 || result.status == 1) << result.status;
  }
}

}  // namespace
