// What happened on the line, as the driver's line trace tells it: em1 points EM_TRACE at a
// file (the user's --trace file or a private one) before the driver is loaded, and reads
// back the lines the driver appends after each call, with the driver's own trace grammar. A
// write's outcome, the text a write carried and an outage of the line are judged from these
// lines, not guessed; a trace em1 cannot read ends what em1 is doing, loudly.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct LineEvent {
    enum class Kind { kSent, kReceived, kPurged, kEvent };
    Kind kind = Kind::kEvent;
    std::string bytes; // the bytes of TX, RX and PURGED; the words of an event
    std::string line;  // the trace line as the driver wrote it
};

// The trace file with a read position. Instances on several threads each follow the one file
// with a reader of their own (Follow). A private file is emptied when it grows past a bound,
// at a moment when no call is under way, so a long run does not fill the disk.
class LineTrace {
  public:
    // Points EM_TRACE at file, or at a private file when file is empty. Throws UsageError
    // when the driver could not write to the file given, and Failure (TraceUnreadable) when
    // no private file can be made.
    explicit LineTrace(const std::string &file);
    ~LineTrace();
    LineTrace(const LineTrace &) = delete;
    LineTrace &operator=(const LineTrace &) = delete;

    // A reader of the same file from its present end, for an instance on another thread.
    std::unique_ptr<LineTrace> Follow() const;

    const std::string &Path() const { return path_; }

    // Held around a driver call and the TakeNew after it: the file is not emptied meanwhile.
    // A call waits while the file is being emptied, so that Trim never waits for ever.
    class CallHold {
      public:
        explicit CallHold(const LineTrace &trace);
        ~CallHold();
        CallHold(const CallHold &) = delete;
        CallHold &operator=(const CallHold &) = delete;

      private:
        const LineTrace &trace_;
    };
    // The whole lines appended since the last call that belong to the port with this name.
    // Throws Failure: TraceUnreadable for a file that cannot be read, a line that is not of
    // the trace's grammar, or a line of the port before any version line; TraceUnknown for a
    // version line of another version than em1's.
    std::vector<LineEvent> TakeNew(const std::string &port);
    // Empties a private file that has grown past its bound; call with no hold.
    void Trim();

  private:
    struct Shared {
        std::mutex lock;
        std::condition_variable changed;
        int calls = 0;            // calls under way
        bool emptying = false;    // a Trim waits for the calls to end, or runs
        long long generation = 0; // how often the file was emptied
    };
    LineTrace() = default;
    // The event of a line for port, or false for a line of another port or a version line.
    bool Read(const std::string &line, const std::string &port, LineEvent &event);

    std::string path_;
    bool owned_ = false;
    bool follower_ = false;
    bool versionSeen_ = false; // a version line of em1's own version was read
    long long offset_ = 0;
    long long generation_ = 0;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// The reply that came to the last request in events that was not the status request that
// follows a refusal; the request's bytes go to request, and false when there was no request.
// Replies that the driver threw away as answers to other requests are not part of it.
bool ReplyToLastRequest(const std::vector<LineEvent> &events, std::string &request,
                        std::string &reply);

// The replies to other requests that the driver threw away while it read the reply to that
// last request, one after the other; empty when there were none.
std::string ForeignRepliesToLastRequest(const std::vector<LineEvent> &events);

// True when the port itself failed (a read or write error: a hang-up, a vanished device),
// not merely a silent instrument.
bool PortFailed(const std::vector<LineEvent> &events);

// Whether the last opening or closing of the port among events left it open; nothing when
// events hold neither.
std::optional<bool> OpenedByTrace(const std::vector<LineEvent> &events);

// Bytes as the trace shows them: "L01S=1.5\r".
std::string Escaped(const std::string &bytes);
