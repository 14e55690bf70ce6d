// sim_test.cc - qvsim in process: the jobs of one connection told apart and
// checked, PJL status answered, a cut job named; the state file kept whole.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "inspect/sim_socket.h"
#include "inspect/sim_state.h"
#include "tests/support/run_program.h"

namespace {

constexpr std::size_t npos = std::string::npos;
const std::string kStatusQuery = "\x1b%-12345X@PJL INFO STATUS\r\n\x1b%-12345X";

std::string fixture(const char* name) {
  return qvtest::readFile(std::string(QV_FIXTURES_DIR) + "/decode/" + name);
}

// `bytes` on one connection to the simulated printer, then its end; what
// the printer answered.
std::string serve(const qvsim::SimOptions& options, const std::string& bytes, int& nextJob) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return "no socketpair";
  std::thread printer([&] { qvsim::serveConnection(ends[1], options, nextJob); });
  std::string answers;
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t got; (got = ::read(ends[0], buffer, sizeof buffer)) > 0;)
      answers.append(buffer, std::size_t(got));
  });
  for (std::size_t at = 0; at < bytes.size();) {  // in pieces, as a network delivers them
    const ssize_t sent =
        ::write(ends[0], bytes.data() + at, std::min<std::size_t>(1000, bytes.size() - at));
    if (sent <= 0) break;
    at += std::size_t(sent);
  }
  ::shutdown(ends[0], SHUT_WR);
  printer.join();
  reader.join();
  ::close(ends[0]);
  return answers;
}

TEST(Qvsim, JobsOfOneConnectionAreToldApartAndChecked) {
  const qvtest::ScopedTempDir dir;
  qvsim::SimOptions options;
  options.outDir = dir.path();
  options.statePath = dir.file("state");
  const std::string mono = fixture("mono-300dpi-sorted.prn"),
                    colour = fixture("colour-a4-two-pages.prn"),
                    gray = fixture("gray-a4-duplex.prn");
  int nextJob = 1;
  const std::string answers = serve(
      options, mono + kStatusQuery + colour + gray + mono.substr(0, mono.size() / 2), nextJob);
  EXPECT_EQ("@PJL INFO STATUS\r\nCODE=10001\r\nDISPLAY=\"READY\"\r\nONLINE=TRUE\r\n\f", answers);
  const std::string log = qvtest::readFile(dir.file("jobs.log"));
  EXPECT_EQ(0u, log.find("job 1: OK: mono job, 4 pages\n"
                         "job 2: OK: colour job, 2 pages\n"
                         "job 3: OK: colour job, 2 pages\n"
                         "job 4: damaged: "))
      << log;
  EXPECT_NE(npos, log.find("(the connection ended before the job did)\n")) << log;
  EXPECT_EQ(colour, qvtest::readFile(dir.file("job-2.prn")));
  EXPECT_EQ(5, nextJob);

  // The printer closes the connection mid-job when told to; its state
  // shows in the PJL status.
  std::string error;
  ASSERT_EQ(0, qvsim::updateStateFile(options.statePath, {"hangup=5000", "toner=5"}, error))
      << error;
  EXPECT_EQ("@PJL INFO STATUS\r\nCODE=10006\r\nDISPLAY=\"TONER LOW\"\r\nONLINE=TRUE\r\n\f",
            serve(options, kStatusQuery + colour, nextJob));
  const std::string cut = qvtest::readFile(dir.file("jobs.log"));
  EXPECT_NE(npos, cut.find("job 5: damaged: ")) << cut;
  EXPECT_NE(npos, cut.find("(the printer closed the connection after 5000 bytes)\n")) << cut;
}

// Settings survive being written and read back, long lines included; a
// bad one is named with its file and line.
TEST(Qvsim, StateFileRoundTripsAndNamesABadLine) {
  const qvtest::ScopedTempDir dir;
  const std::string path = dir.file("state");
  std::string error;
  ASSERT_EQ(0,
            qvsim::updateStateFile(path, {"tray-missing=yes", "cyan=missing", "online=no"}, error));
  ASSERT_EQ(0, qvsim::updateStateFile(path, {"magenta=3"}, error)) << error;
  qvsim::SimState state;
  ASSERT_EQ(0, qvsim::loadState(path, state, error)) << error;
  EXPECT_TRUE(state.trayMissing && !state.online);
  EXPECT_EQ(-1, state.toner[1]);
  EXPECT_EQ(3, state.toner[2]);
  EXPECT_EQ(0x22A0, qvsim::detectedErrorState(state, qvsim::SimModel::kColour));
  qvtest::writeFile(path, "# a comment\npaper=out\njam=maybe\n");
  EXPECT_EQ(-1, qvsim::loadState(path, state, error));
  EXPECT_EQ(path + ":3: bad setting \"jam=maybe\"", error);
}

}  // namespace
