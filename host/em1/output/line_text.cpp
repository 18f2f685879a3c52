#include "line_text.h"

#include <array>
#include <cstring>
#include <string_view>

namespace {

constexpr std::array<std::string_view, 3> kStopBitWords = {
    "one stop bit", "one and a half stop bits", "two stop bits"};
constexpr std::array<std::string_view, 3> kStopBitShort = {"1", "1.5", "2"};
constexpr std::array<std::string_view, 5> kParityWords = {"no parity", "odd parity", "even parity",
                                                          "mark parity", "space parity"};
constexpr std::string_view kParityLetters = "NOEMS";

template <std::size_t N>
std::string Pick(const std::array<std::string_view, N> &words, unsigned code,
                 const std::string &unknown) {
    return code < N ? std::string(words[code]) : unknown + " code " + std::to_string(code);
}

unsigned LowByte(std::uint16_t field) {
    return field & 0xFFu;
}

} // namespace

std::string LineInWords(const LineSettings &line) {
    return std::to_string(line.baudRate) + " baud, " + std::to_string(LowByte(line.dataBits)) +
           " data bits, " + Pick(kStopBitWords, LowByte(line.stopBits), "stop-bits") + ", " +
           Pick(kParityWords, LowByte(line.parity), "parity");
}

std::string LineInShort(const LineSettings &line) {
    const unsigned parity = LowByte(line.parity);
    return std::to_string(line.baudRate) + " " + std::to_string(LowByte(line.dataBits)) +
           (parity < kParityLetters.size() ? kParityLetters[parity] : '?') +
           Pick(kStopBitShort, LowByte(line.stopBits), "?");
}

std::string StateInWords(const DriverState &state) {
    const std::string name(state.port.portName,
                           strnlen(state.port.portName, sizeof state.port.portName));
    std::string text = "port " + name + (state.portHandle != 0 ? " open" : " closed") + " at " +
                       LineInShort(state.port.line) + ", reply timeout " +
                       std::to_string(state.replyTimeout * 10) + " ms, adapter ";
    return text + (state.adapterReady == 1 ? "ready" : "not ready");
}
