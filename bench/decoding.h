// The cost of decoding and of the other work a command does between its waits, measured with
// Google Benchmark on the driver's own code (not through the library).
#pragma once

#include <string>
#include <vector>

namespace bench {

// Replies taken from the simulator in the state the benchmark gives it.
struct DecodeReplies {
    std::string summary;   // "SL?": 591 bytes
    std::string alertList; // "SA?" with 27 alerts
    std::string setPoint;  // "L01S?"
};

struct DecodeCost {
    std::string name;
    double ns; // median over repetitions, per operation
};

// Throws std::runtime_error when the simulator does not give the replies.
DecodeReplies FetchReplies();
// quick: short runs, one repetition.
std::vector<DecodeCost> TimeDecoding(const DecodeReplies &replies, bool quick);

} // namespace bench
