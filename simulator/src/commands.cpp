#include "commands.h"

#include <charconv>

namespace em1sim {
namespace {

struct CommandHelp {
    std::string_view synopsis;
    std::string_view description;
};

constexpr CommandHelp kCommands[] = {
    {"get ITEM", "value of an item, e.g. get L01S, get M03X"},
    {"set ITEM VALUE", "set an item (read-only ones too), e.g. set L01M MANUAL"},
    {"fault PATTERN KIND [count=N] [rate=P] [delay=MS] [bytes=N] [to=REQUEST]",
     "add a fault rule (see FAULTS)"},
    {"clear", "remove every fault rule"},
    {"faults", "list the fault rules"},
    {"alert add TEXT", "raise an alert, e.g. alert add CC, alert add L02 LOW ALARM"},
    {"alert remove TEXT", "drop one alert; alert clear drops them all"},
    {"alerts", "list the active alerts"},
    {"display", "the text on the front-panel display"},
    {"fast on|off", "whether S? answers *** before SI (off also forgets SI)"},
    {"confirm LETTERS|none", "parameter letters whose writes ask for confirmation"},
    {"latency MS", "delay before every reply"},
    {"drift on|off", "whether measured values move"},
    {"hangup [MS]", "close the line, open it again after MS (200)"},
    {"help", "the commands on one line, separated by \"; \""},
};

constexpr std::size_t kSynopsisColumn = 25;

std::string HelpLine() {
    std::string line;
    for (const auto &command : kCommands) {
        if (!line.empty())
            line += "; ";
        line += command.synopsis;
    }
    return line;
}

struct Words {
    std::string_view head;
    std::string_view rest;
};

Words SplitFirst(std::string_view text) {
    const auto start = text.find_first_not_of(' ');
    if (start == text.npos)
        return {};
    text = text.substr(start);
    const auto end = text.find(' ');
    if (end == text.npos)
        return {text, {}};
    const auto rest = text.find_first_not_of(' ', end);
    return {text.substr(0, end), rest == text.npos ? std::string_view{} : text.substr(rest)};
}

std::string Error(std::string_view reason) {
    return "error: " + std::string(reason);
}

std::string Joined(const std::vector<std::string> &items) {
    if (items.empty())
        return "none";
    std::string text;
    for (const auto &item : items)
        text += (text.empty() ? "" : "; ") + item;
    return text;
}

std::optional<int> ParseMillis(std::string_view text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<bool> ParseSwitch(std::string_view text) {
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

std::string GetItem(Model &model, std::string_view name) {
    const auto item = ParseItem(name);
    if (!item || model.instrument.ParameterOf(*item) == nullptr)
        return Error("no item '" + std::string(name) + "'");
    return model.instrument.TextOf(*item);
}

std::string SetItem(Model &model, std::string_view arguments) {
    const auto [name, value] = SplitFirst(arguments);
    const auto item = ParseItem(name);
    if (!item || model.instrument.ParameterOf(*item) == nullptr)
        return Error("no item '" + std::string(name) + "'");
    if (!model.instrument.Assign(*item, value))
        return Error("'" + std::string(value) + "' is not a " +
                     std::string(KindName(model.instrument.ParameterOf(*item)->kind)));
    return "ok";
}

std::string AddFault(Model &model, std::string_view text) {
    std::string reason;
    auto rule = ParseFault(text, reason);
    if (!rule)
        return Error(reason);
    if (!rule->foreignTo.empty() && !model.protocol.Preview(rule->foreignTo))
        return Error("to=" + rule->foreignTo +
                     ": not a request the instrument answers without carrying it out (an item's "
                     "read such as L02S?, SL?, SM?, SA? or XC)");
    model.faults.Add(std::move(*rule));
    return "ok";
}

std::string ListFaults(const Model &model) {
    std::vector<std::string> rules;
    for (const auto &rule : model.faults.Rules())
        rules.push_back(Describe(rule));
    return Joined(rules);
}

std::string Alert(Model &model, std::string_view arguments) {
    const auto [action, text] = SplitFirst(arguments);
    if (action == "add")
        return model.instrument.AddAlert(text) ? "ok" : Error("cannot add that alert");
    if (action == "remove")
        return model.instrument.RemoveAlert(text) ? "ok" : Error("no such alert");
    if (action == "clear" && text.empty()) {
        model.instrument.ClearAlerts();
        return "ok";
    }
    return Error("alert add|remove TEXT, or alert clear");
}

std::string SetFast(Model &model, std::string_view argument) {
    const auto fast = ParseSwitch(argument);
    if (!fast)
        return Error("fast on|off");
    model.protocol.Settings().fastStart = *fast;
    if (!*fast)
        model.protocol.ResetAdapter();
    return "ok";
}

std::string SetConfirm(Model &model, std::string_view letters) {
    if (letters.empty())
        return Error("confirm LETTERS|none");
    model.protocol.Settings().confirmLetters = letters == "none" ? "" : std::string(letters);
    return "ok";
}

std::string SetLatency(Model &model, std::string_view argument) {
    const auto millis = ParseMillis(argument);
    if (!millis)
        return Error("latency MS");
    model.latency = std::chrono::milliseconds(*millis);
    return "ok";
}

std::string SetDrift(Model &model, std::string_view argument) {
    const auto drift = ParseSwitch(argument);
    if (!drift)
        return Error("drift on|off");
    model.drift = *drift;
    return "ok";
}

std::string HangUp(Model &model, std::string_view argument) {
    const auto millis = argument.empty() ? std::optional(200) : ParseMillis(argument);
    if (!millis)
        return Error("hangup [MS]");
    model.hangUpRequest = std::chrono::milliseconds(*millis);
    return "ok";
}

} // namespace

std::string Execute(Model &model, std::string_view line) {
    const auto [command, arguments] = SplitFirst(line);
    if (command == "get")
        return GetItem(model, arguments);
    if (command == "set")
        return SetItem(model, arguments);
    if (command == "fault")
        return AddFault(model, arguments);
    if (command == "clear") {
        model.faults.Clear();
        return "ok";
    }
    if (command == "faults")
        return ListFaults(model);
    if (command == "alert")
        return Alert(model, arguments);
    if (command == "alerts")
        return Joined(model.instrument.Alerts());
    if (command == "display")
        return model.instrument.Display();
    if (command == "fast")
        return SetFast(model, arguments);
    if (command == "confirm")
        return SetConfirm(model, arguments);
    if (command == "latency")
        return SetLatency(model, arguments);
    if (command == "drift")
        return SetDrift(model, arguments);
    if (command == "hangup")
        return HangUp(model, arguments);
    if (command == "help")
        return HelpLine();
    return Error("unknown command '" + std::string(command) + "'; 'help' lists the commands");
}

std::string CommandSummary() {
    std::string summary;
    for (const auto &[synopsis, description] : kCommands) {
        summary.append("  ").append(synopsis);
        if (synopsis.size() < kSynopsisColumn)
            summary.append(kSynopsisColumn - synopsis.size(), ' ');
        else
            summary.append("\n").append(kSynopsisColumn + 2, ' ');
        summary.append(description).append("\n");
    }
    return summary;
}

} // namespace em1sim
