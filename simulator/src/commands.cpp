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
    {"fault PATTERN KIND [count=N] [rate=P] [delay=MS] [bytes=N]", "add a fault rule (see FAULTS)"},
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

std::string help_line() {
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

Words split_first(std::string_view text) {
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

std::string error(std::string_view reason) {
    return "error: " + std::string(reason);
}

std::string joined(const std::vector<std::string> &items) {
    if (items.empty())
        return "none";
    std::string text;
    for (const auto &item : items)
        text += (text.empty() ? "" : "; ") + item;
    return text;
}

std::optional<int> parse_millis(std::string_view text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

std::optional<bool> parse_switch(std::string_view text) {
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    return std::nullopt;
}

std::string get_item(Model &model, std::string_view name) {
    const auto item = parse_item(name);
    if (!item || model.instrument.parameter_of(*item) == nullptr)
        return error("no item '" + std::string(name) + "'");
    return model.instrument.text_of(*item);
}

std::string set_item(Model &model, std::string_view arguments) {
    const auto [name, value] = split_first(arguments);
    const auto item = parse_item(name);
    if (!item || model.instrument.parameter_of(*item) == nullptr)
        return error("no item '" + std::string(name) + "'");
    if (!model.instrument.assign(*item, value))
        return error("'" + std::string(value) + "' is not a " +
                     std::string(kind_name(model.instrument.parameter_of(*item)->kind)));
    return "ok";
}

std::string add_fault(Model &model, std::string_view text) {
    std::string reason;
    auto rule = parse_fault(text, reason);
    if (!rule)
        return error(reason);
    model.faults.add(std::move(*rule));
    return "ok";
}

std::string list_faults(const Model &model) {
    std::vector<std::string> rules;
    for (const auto &rule : model.faults.rules())
        rules.push_back(describe(rule));
    return joined(rules);
}

std::string alert(Model &model, std::string_view arguments) {
    const auto [action, text] = split_first(arguments);
    if (action == "add")
        return model.instrument.add_alert(text) ? "ok" : error("cannot add that alert");
    if (action == "remove")
        return model.instrument.remove_alert(text) ? "ok" : error("no such alert");
    if (action == "clear" && text.empty()) {
        model.instrument.clear_alerts();
        return "ok";
    }
    return error("alert add|remove TEXT, or alert clear");
}

std::string set_fast(Model &model, std::string_view argument) {
    const auto fast = parse_switch(argument);
    if (!fast)
        return error("fast on|off");
    model.protocol.settings().fast_start = *fast;
    if (!*fast)
        model.protocol.reset_adapter();
    return "ok";
}

std::string set_confirm(Model &model, std::string_view letters) {
    if (letters.empty())
        return error("confirm LETTERS|none");
    model.protocol.settings().confirm_letters = letters == "none" ? "" : std::string(letters);
    return "ok";
}

std::string set_latency(Model &model, std::string_view argument) {
    const auto millis = parse_millis(argument);
    if (!millis)
        return error("latency MS");
    model.latency = std::chrono::milliseconds(*millis);
    return "ok";
}

std::string set_drift(Model &model, std::string_view argument) {
    const auto drift = parse_switch(argument);
    if (!drift)
        return error("drift on|off");
    model.drift = *drift;
    return "ok";
}

std::string hang_up(Model &model, std::string_view argument) {
    const auto millis = argument.empty() ? std::optional(200) : parse_millis(argument);
    if (!millis)
        return error("hangup [MS]");
    model.hang_up_request = std::chrono::milliseconds(*millis);
    return "ok";
}

} // namespace

std::string execute(Model &model, std::string_view line) {
    const auto [command, arguments] = split_first(line);
    if (command == "get")
        return get_item(model, arguments);
    if (command == "set")
        return set_item(model, arguments);
    if (command == "fault")
        return add_fault(model, arguments);
    if (command == "clear") {
        model.faults.clear();
        return "ok";
    }
    if (command == "faults")
        return list_faults(model);
    if (command == "alert")
        return alert(model, arguments);
    if (command == "alerts")
        return joined(model.instrument.alerts());
    if (command == "display")
        return model.instrument.display();
    if (command == "fast")
        return set_fast(model, arguments);
    if (command == "confirm")
        return set_confirm(model, arguments);
    if (command == "latency")
        return set_latency(model, arguments);
    if (command == "drift")
        return set_drift(model, arguments);
    if (command == "hangup")
        return hang_up(model, arguments);
    if (command == "help")
        return help_line();
    return error("unknown command '" + std::string(command) + "'; 'help' lists the commands");
}

std::string command_summary() {
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
