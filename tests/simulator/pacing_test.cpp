// A paced line: the bytes of a reply reach the peer no sooner than a real line of the same
// speed and framing could carry the request and then the reply; later only on a hang.
#include "em1sim/simulator.h"
#include "pty_client.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using sim_test::kEtx;
using sim_test::PtyClient;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct PacedLine {
    int baud;
    int dataBits;
    char parity;
    int stopBits;
    int bitsPerByte; // start, data, parity and stop bits
    const char *request;
};

class Pacing : public testing::TestWithParam<PacedLine> {};

TEST_P(Pacing, EveryByteTakesItsWireTime) {
    const PacedLine line = GetParam();
    em1sim::Options options;
    options.loops = 9;
    options.modules = 1;
    options.pace = true;
    options.baud = line.baud;
    options.dataBits = line.dataBits;
    options.parity = line.parity;
    options.stopBits = line.stopBits;
    em1sim::Simulator simulator(options);
    PtyClient client(simulator.SlavePath());

    const std::chrono::nanoseconds character(std::int64_t{line.bitsPerByte} * 1'000'000'000 /
                                             line.baud);
    const std::size_t requestBytes = std::strlen(line.request) + 1;
    std::vector<Clock::time_point> arrivals;
    const Clock::time_point sent = Clock::now();
    client.Send(std::string(line.request) + '\r');
    const std::string reply = client.ReadTimed(kEtx, 5000ms, arrivals);
    ASSERT_FALSE(reply.empty());
    ASSERT_EQ(reply.back(), kEtx) << reply;
    for (std::size_t i = 0; i < arrivals.size(); ++i)
        ASSERT_GE(arrivals[i] - sent, character * static_cast<std::int64_t>(requestBytes + i + 1))
            << "byte " << i << " of " << reply.size();
    const auto wire = character * static_cast<std::int64_t>(requestBytes + reply.size());
    EXPECT_LT(arrivals.back() - sent, wire + 10s) << reply.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Framings, Pacing,
                         testing::Values(PacedLine{9600, 8, 'N', 1, 10, "SL?"},
                                         PacedLine{4800, 7, 'E', 2, 11, "SL?"},
                                         PacedLine{2400, 8, 'S', 2, 12, "S?"}),
                         [](const testing::TestParamInfo<PacedLine> &info) {
                             const PacedLine &line = info.param;
                             return std::to_string(line.baud) + '_' +
                                    std::to_string(line.dataBits) + line.parity +
                                    std::to_string(line.stopBits);
                         });

} // namespace
