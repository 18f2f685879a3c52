#include "round_output.h"

#include "clock_text.h"
#include "number_text.h"
#include "output_check.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace {

std::string ScaleText(double scale) {
    return "x" + FormatNumber(scale);
}

std::string CellText(const ItemResult &result) {
    return result.problem ? "-" : result.shown.cell;
}

std::string ValueText(const ItemResult &result) {
    return result.problem ? "-" : result.shown.text;
}

// One item a line: ITEM VALUE CELL SCALE TYPE.
class ListWriter : public RoundWriter {
  public:
    ListWriter(std::FILE *out, const std::vector<Item> &items) : out_(out), items_(items) {}
    void Write(const Round &round) override {
        std::size_t width = 4;
        for (const auto &item : items_) {
            width = std::max(width, item.address.size());
        }
        std::fprintf(out_, "%-*s  %-12s %-12s %-6s %s\n", static_cast<int>(width), "ITEM", "VALUE",
                     "CELL", "SCALE", "TYPE");
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const ItemResult &result = round.results[i];
            std::fprintf(out_, "%-*s  %-12s %-12s %-6s %s\n", static_cast<int>(width),
                         items_[i].address.c_str(), ValueText(result).c_str(),
                         CellText(result).c_str(), ScaleText(items_[i].Scale()).c_str(),
                         TypeName(items_[i].dataType).c_str());
        }
        CheckOutput(out_);
    }

  private:
    std::FILE *out_;
    const std::vector<Item> &items_;
};

// A header, then one line per round: TIME ROUND and a column per item.
class TableWriter : public RoundWriter {
  public:
    TableWriter(std::FILE *out, const std::vector<Item> &items) : out_(out), items_(items) {
        for (const auto &item : items_) {
            widths_.push_back(std::max<std::size_t>(item.address.size(), 8));
        }
    }
    void Write(const Round &round) override {
        if (round.number == 1) {
            std::fprintf(out_, "%-24s  %5s", "TIME", "ROUND");
            for (std::size_t i = 0; i < items_.size(); ++i) {
                Column(items_[i].address, i);
            }
            std::fputc('\n', out_);
        }
        std::fprintf(out_, "%-24s  %5lld", UtcStamp(round.time).c_str(), round.number);
        for (std::size_t i = 0; i < items_.size(); ++i) {
            Column(ValueText(round.results[i]), i);
        }
        std::fputc('\n', out_);
        CheckOutput(out_);
    }

  private:
    // Column i, padded to its width except the last, so lines end without blanks.
    void Column(const std::string &text, std::size_t i) {
        const int width = i + 1 < widths_.size() ? static_cast<int>(widths_[i]) : 0;
        std::fprintf(out_, "  %-*s", width, text.c_str());
    }

    std::FILE *out_;
    const std::vector<Item> &items_;
    std::vector<std::size_t> widths_;
};

std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

// A header row, then time,round and one field per item; a failed read leaves its field
// empty.
class CsvWriter : public RoundWriter {
  public:
    CsvWriter(std::FILE *out, const std::vector<Item> &items, bool header)
        : out_(out), items_(items), header_(header) {}
    void Write(const Round &round) override {
        if (round.number == 1 && header_) {
            std::fputs("time,round", out_);
            for (const auto &item : items_) {
                std::fprintf(out_, ",%s", CsvField(item.address).c_str());
            }
            std::fputc('\n', out_);
        }
        std::fprintf(out_, "%s,%lld", UtcStamp(round.time).c_str(), round.number);
        for (const auto &result : round.results) {
            std::fprintf(out_, ",%s", result.problem ? "" : CsvField(result.shown.text).c_str());
        }
        std::fputc('\n', out_);
        CheckOutput(out_);
    }

  private:
    std::FILE *out_;
    const std::vector<Item> &items_;
    bool header_;
};

std::string JsonNumber(double value, const std::string &text) {
    return std::isfinite(value) ? text : "null";
}

std::string ProblemWord(FailureKind kind) {
    switch (kind) {
    case FailureKind::kRefused:
        return "refused";
    case FailureKind::kBadValue:
        return "undecoded";
    default:
        return "no answer";
    }
}

// One object per round: {"time":..., "round":N, "items":[{"item":..., "value":...}, ...]}.
class JsonWriter : public RoundWriter {
  public:
    JsonWriter(std::FILE *out, const std::vector<Item> &items) : out_(out), items_(items) {}
    void Write(const Round &round) override {
        std::string line = "{\"time\":" + JsonString(UtcStamp(round.time)) +
                           ",\"round\":" + std::to_string(round.number) +
                           (round.missed ? ",\"missed\":true" : "") + ",\"items\":[";
        for (std::size_t i = 0; i < items_.size(); ++i) {
            line += (i == 0 ? "" : ",") + JsonItem(items_[i], round.results[i]);
        }
        line += "]}\n";
        std::fputs(line.c_str(), out_);
        CheckOutput(out_);
    }
    void Tell(const LineNews &news) override {
        std::string line = "{\"time\":" + JsonString(UtcStamp(news.time)) +
                           ",\"event\":" + JsonString(news.event) +
                           ",\"port\":" + JsonString(news.port);
        if (news.event == "line back") {
            line += ",\"down_seconds\":" + FormatNumber(news.downSeconds) +
                    ",\"missed_rounds\":" + std::to_string(news.missedRounds);
        }
        line += "}\n";
        std::fputs(line.c_str(), out_);
        CheckOutput(out_);
    }

  private:
    std::FILE *out_;
    const std::vector<Item> &items_;
};

} // namespace

std::string JsonString(const std::string &text) {
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string JsonItem(const Item &item, const ItemResult &result) {
    std::string json = "{\"item\":" + JsonString(item.address);
    if (result.problem) {
        const std::string word =
            result.skipped.empty() ? ProblemWord(result.problem->kind) : result.skipped;
        json += ",\"error\":" + JsonString(word);
        if (!result.problem->foreign.empty()) {
            json += ",\"foreign\":" + JsonString(result.problem->foreign);
        }
        return json + "}";
    }
    json += ",\"value\":" + JsonNumber(result.shown.value, result.shown.number);
    if (result.shown.text != result.shown.number) {
        json += ",\"text\":" + JsonString(result.shown.text);
    }
    return json + ",\"cell\":" + JsonNumber(result.hostValue, result.shown.cell) +
           ",\"scale\":" + FormatNumber(item.Scale()) + "}";
}

std::unique_ptr<RoundWriter> MakeRoundWriter(std::FILE *out, OutputFormat format,
                                             const std::vector<Item> &items, bool singleRound,
                                             bool csvHeader) {
    switch (format) {
    case OutputFormat::kCsv:
        return std::make_unique<CsvWriter>(out, items, csvHeader);
    case OutputFormat::kJson:
        return std::make_unique<JsonWriter>(out, items);
    default:
        if (singleRound) {
            return std::make_unique<ListWriter>(out, items);
        }
        return std::make_unique<TableWriter>(out, items);
    }
}

void TellProblems(const Round &round) {
    const std::string *told = nullptr; // a failed block fails its values with one message
    for (const auto &result : round.results) {
        if (result.problem && result.skipped.empty() &&
            (told == nullptr || *told != result.problem->message)) {
            std::fprintf(stderr, "em1: %s\n", result.problem->message.c_str());
            told = &result.problem->message;
        }
    }
}
