// A scripted instrument on a virtual clock, linked in place of the platform's serial backend.
//
// It implements every operation of serial/serial.h. Time passes only when the driver pauses
// or waits for bytes: a read waits on the virtual clock up to the port's read timeout, jumping
// to the next arrival of bytes or to the timeout. The instrument answers each expected
// request with reply parts that arrive at given times after the request was written.
//
//   ScriptedLine &line = ScriptedLine::Instance();
//   line.Reset();
//   line.Expect("S?\r").Reply("***\r\x03");
//   line.Expect("DLSV%X\r").Reply("ok\n").After(20);
//   line.ExpectSilence("SI\r");
//   line.ExpectAny().Reply("L01P? 45.0 Y/N\r\n");
//   ... run the driver ...
//   EXPECT_EQ(line.Now(), 250u);
//   EXPECT_TRUE(line.Unexpected().empty());
#pragma once

#include "serial/serial.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

// One expected request and the reply the instrument gives to it.
class ScriptStep {
  public:
    explicit ScriptStep(std::string request) : request_(std::move(request)) {}
    // A step that takes whatever request comes next.
    static ScriptStep AnyRequest() {
        ScriptStep step("");
        step.any_ = true;
        return step;
    }
    // Adds a reply part; it arrives as soon as the request is written, unless After says.
    ScriptStep &Reply(std::string bytes);
    // The last reply part arrives ms after the request was written.
    ScriptStep &After(std::uint64_t ms);

    struct Part {
        std::uint64_t delayMs;
        std::string bytes;
    };
    const std::string &Request() const { return request_; }
    bool Matches(const std::string &request) const { return any_ || request == request_; }
    const std::vector<Part> &Parts() const { return parts_; }

  private:
    std::string request_;
    bool any_ = false;
    std::vector<Part> parts_;
};

class ScriptedLine {
  public:
    static ScriptedLine &Instance();

    // Clock at 0, no ports, empty script, no faults, nothing recorded.
    void Reset();
    // Opens a 9600 baud port ("ttyS1") into state as a cold start leaves it ready for items:
    // replies end with ETX and the adapter is enabled.
    SerialResult OpenReady(DriverState &state);

    // ---- The instrument ----
    // Requests are expected in order, one per write; a write that does not match the next
    // expected request is recorded as unexpected and answered by the default reply.
    ScriptStep &Expect(std::string request);
    ScriptStep &ExpectSilence(std::string request) { return Expect(std::move(request)); }
    // The next request, whatever it is; for tests that cannot know the bytes in advance.
    ScriptStep &ExpectAny();
    void DefaultReply(std::string bytes) { defaultReply_ = std::move(bytes); }
    // Bytes that arrive at a virtual time of their own, whatever was written.
    void Arrive(std::string bytes, std::uint64_t atMs);

    // ---- Faults: each applies to the next call of its kind ----
    void FailNextOpen(SerialResult result) { openFailure_ = result; }
    // The next close fails. A released port is gone all the same, as a descriptor is on Linux
    // whatever close reports; otherwise the port stays open, as a protected Windows handle.
    void FailNextClose(bool released = false) {
        failClose_ = true;
        closeReleases_ = released;
    }
    // The next close that succeeds gives its number at once to a port that another thread
    // opens, as the process may: the handle is open again, but not for the closer.
    void HandOutNextClosedNumber() { handOutClosed_ = true; }
    void FailNextWrite() { failWrite_ = true; }
    // Every write after the first count writes fails, as on a line that has gone away.
    void FailWritesAfter(std::size_t count) { failWritesAfter_ = count; }
    // Only the first count bytes go out; the write reports them and fails with 2.
    void ShortNextWrite(std::uint32_t count) { shortWrite_ = static_cast<int>(count); }
    void FailNextRead() { failRead_ = true; }
    // From now on SerialSetReadTimeout returns 0 and changes nothing.
    void FailTimeouts() { failTimeouts_ = true; }

    // ---- What the driver did ----
    struct Sent {
        std::uint64_t atMs;
        std::string bytes;
        bool operator==(const Sent &) const = default;
    };
    std::uint64_t Now() const { return nowMs_; }
    const std::vector<Sent> &Writes() const { return writes_; }
    const std::vector<std::uint32_t> &Pauses() const { return pauses_; }
    // Every value the driver passed to SerialSetReadTimeout (not the purge's own).
    const std::vector<std::int32_t> &Timeouts() const { return timeouts_; }
    // Virtual time at which each purge began.
    const std::vector<std::uint64_t> &Purges() const { return purges_; }
    const std::vector<PortSettings> &Opens() const { return opens_; }
    const std::vector<SerialHandle> &Closes() const { return closes_; }
    // Writes that matched no expected request.
    const std::vector<std::string> &Unexpected() const { return unexpected_; }
    // The calls other than reads, in order: "open COM1", "timeout 200", "purge",
    // "write S?\r", "pause 200", "break 10", "event foreign reply discarded", "close"; control
    // bytes appear as \r, \n, \xNN.
    const std::vector<std::string> &Trace() const { return trace_; }
    // Expected requests not yet written.
    std::size_t Pending() const { return script_.size(); }
    // Bytes that have arrived and not been read.
    std::uint32_t Waiting() const;
    // The read timeout in ms of an open port; -1 when the handle is not open.
    std::int32_t ReadTimeoutMs(SerialHandle handle) const;

    // ---- The serial operations, called through serial/serial.h ----
    SerialResult Open(const PortSettings &settings, SerialHandle &handle);
    SerialResult Close(SerialHandle handle);
    bool Holds(SerialHandle handle) const { return Find(handle) != nullptr; }
    std::int32_t SetReadTimeout(SerialHandle handle, std::int32_t timeout);
    SerialResult Purge(SerialHandle handle);
    SerialResult Break(std::uint32_t ms, SerialHandle handle);
    SerialResult Write(SerialHandle handle, const void *bytes, std::uint32_t count,
                       std::uint32_t *written);
    SerialResult Read(SerialHandle handle, void *buffer, std::uint32_t count, std::uint32_t *read);
    SerialResult Pause(std::uint32_t ms);
    std::uint32_t Queued(SerialHandle handle) const;
    void TraceEvent(SerialHandle handle, const char *event);

  private:
    struct Port {
        std::int32_t timeoutMs;
        bool nullDevice;
    };
    struct Arrival {
        std::uint64_t atMs;
        std::string bytes;
    };

    Port *Find(SerialHandle handle);
    const Port *Find(SerialHandle handle) const;
    std::int32_t ChangeTimeout(SerialHandle handle, std::int32_t timeout);
    std::uint32_t TakeArrived(unsigned char *buffer, std::uint32_t count);
    std::uint32_t ReadWithin(unsigned char *buffer, std::uint32_t count, std::int32_t timeoutMs);
    void Answer(const std::string &request);
    void Record(std::string event) { trace_.push_back(std::move(event)); }

    std::uint64_t nowMs_ = 0;
    SerialHandle nextHandle_ = 1;
    std::map<SerialHandle, Port> ports_;
    std::deque<ScriptStep> script_;
    std::string defaultReply_;
    std::deque<Arrival> arrivals_; // ordered by time

    SerialResult openFailure_ = SerialResult::kOk;
    bool failClose_ = false;
    bool closeReleases_ = false;
    bool handOutClosed_ = false;
    bool failWrite_ = false;
    std::size_t writeCalls_ = 0;
    std::size_t failWritesAfter_ = SIZE_MAX;
    int shortWrite_ = -1;
    bool failRead_ = false;
    bool failTimeouts_ = false;

    std::vector<Sent> writes_;
    std::vector<std::uint32_t> pauses_;
    std::vector<std::int32_t> timeouts_;
    std::vector<std::uint64_t> purges_;
    std::vector<PortSettings> opens_;
    std::vector<SerialHandle> closes_;
    std::vector<std::string> unexpected_;
    std::vector<std::string> trace_;
};

// Shows bytes as readable text: \r, \n and other control bytes as escapes.
std::string Printable(const std::string &bytes);
