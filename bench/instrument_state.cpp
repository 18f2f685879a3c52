#include "instrument_state.h"

#include <cstdio>

namespace bench {
namespace {

constexpr int kLoops = 29;
constexpr int kAlerts = 27;

std::string LoopItem(int loop, char letter) {
    char name[8];
    std::snprintf(name, sizeof name, "L%02d%c", loop, letter);
    return name;
}

} // namespace

std::vector<Setting> LongestSummarySettings() {
    std::vector<Setting> settings;
    for (int loop = 1; loop <= kLoops; ++loop)
        settings.push_back({LoopItem(loop, 'S'), "-123.4"});
    for (int loop = 1; loop <= 6; ++loop)
        settings.push_back({LoopItem(loop, '%'), "-50.5"});
    settings.push_back({LoopItem(7, '%'), "-50"});
    return settings;
}

std::vector<std::string> LongestAlertList() {
    std::vector<std::string> alerts;
    for (int loop = 1; loop <= kAlerts; ++loop) {
        char text[24];
        std::snprintf(text, sizeof text, "L%02d CHANGE REJECTED", loop);
        alerts.emplace_back(text);
    }
    return alerts;
}

std::vector<std::string> AsProgramOptions(const std::vector<Setting> &settings,
                                          const std::vector<std::string> &alerts) {
    std::vector<std::string> options;
    for (const Setting &setting : settings) {
        options.emplace_back("--set");
        options.push_back(setting.item + '=' + setting.value);
    }
    for (const std::string &alert : alerts) {
        options.emplace_back("--alert");
        options.push_back(alert);
    }
    return options;
}

std::vector<std::string> AsControlCommands(const std::vector<Setting> &settings,
                                           const std::vector<std::string> &alerts) {
    std::vector<std::string> commands;
    commands.reserve(settings.size() + alerts.size());
    for (const Setting &setting : settings)
        commands.push_back("set " + setting.item + ' ' + setting.value);
    for (const std::string &alert : alerts)
        commands.push_back("alert add " + alert);
    return commands;
}

} // namespace bench
