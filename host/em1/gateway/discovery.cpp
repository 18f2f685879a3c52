#include "discovery.h"

#include "address_grammar.h"
#include "em_version.h"
#include "item.h"
#include "number_text.h"
#include "round_output.h"
#include "vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <span>

namespace {

// The driver's number text: at most six digits and three decimals.
constexpr double kLargestText = 999999;
constexpr double kFinestText = 0.001;
// A value stands for this many of its periods (or rounds, when these are longer) unrenewed.
constexpr double kPeriodsToExpire = 3;

// A discovery id: letters, digits and "-" as they are, every other byte as _ and its two hex
// digits, so that different texts never give the same id.
std::string Id(const std::string &text) {
    std::string id;
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-') {
            id += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02X", static_cast<unsigned char>(c));
            id += hex;
        }
    }
    return id;
}

// One JSON object, key by key.
class Json {
  public:
    Json &Text(const std::string &key, const std::string &value) {
        return Raw(key, JsonString(value));
    }
    Json &Number(const std::string &key, double value) { return Raw(key, FormatNumber(value)); }
    Json &Raw(const std::string &key, const std::string &json) {
        text_ += (text_.empty() ? "{" : ",") + JsonString(key) + ":" + json;
        return *this;
    }
    std::string Done() const { return text_ + "}"; }

  private:
    std::string text_;
};

std::string TextList(std::span<const std::string_view> words, bool withOff = false) {
    std::string json = withOff ? "[" + JsonString(std::string(kOffToken)) : "[";
    for (const auto word : words) {
        json += (json.size() > 1 ? "," : "") + JsonString(std::string(word));
    }
    return json + "]";
}

// An item as discovery sees it: its definition from the configuration, read or written.
struct Entity {
    Item item;
    bool read = false;
    bool writable = false;
    const ItemConfig *config = nullptr; // how it is read; none for an item only written
};

Item ItemOf(const std::string &argument) {
    const ItemArgument parsed = ParseItemArgument(argument);
    Item item;
    item.address = UpperCased(parsed.address);
    item.dataType = parsed.dataType.value_or(DefaultTypeOf(item.address));
    switch (ClassLetter(item.address)) {
    case 'A':
        item.itemClass = EM_CLASS_ALERT;
        break;
    case 'L':
        item.itemClass = EM_CLASS_LOOP;
        break;
    case 'M':
        item.itemClass = EM_CLASS_MODULE;
        break;
    default:
        item.itemClass = EM_CLASS_SPECIAL;
    }
    return item;
}

std::vector<Entity> EntitiesOf(const InstrumentConfig &instrument) {
    std::vector<Item> writable;
    for (const auto &argument : instrument.writable) {
        writable.push_back(ItemOf(argument));
    }
    const auto written = [&](const std::string &address) {
        return std::find_if(writable.begin(), writable.end(),
                            [&](const Item &item) { return item.address == address; });
    };
    std::vector<Entity> entities;
    for (const auto &config : instrument.items) {
        Entity entity{ItemOf(config.argument), true, false, &config};
        if (const auto target = written(entity.item.address); target != writable.end()) {
            entity.writable = true;
            entity.item.dataType = target->dataType;
        }
        entities.push_back(entity);
    }
    for (const auto &item : writable) {
        const bool read = std::any_of(entities.begin(), entities.end(), [&](const Entity &entity) {
            return entity.item.address == item.address;
        });
        if (!read) {
            entities.push_back(Entity{item, false, true, nullptr});
        }
    }
    return entities;
}

enum class Shape { kValue, kText, kFlag, kNumber, kModes, kStatuses, kTokens };

Shape ShapeOf(const Entity &entity) {
    const Item &item = entity.item;
    if (item.itemClass == EM_CLASS_ALERT) {
        return Shape::kFlag;
    }
    if (item.itemClass == EM_CLASS_SPECIAL) {
        const bool takesValue = item.address == "DISP" || item.address == "INIT" ||
                                item.address == "SX" || item.address == "S?";
        return entity.writable && takesValue ? Shape::kNumber : Shape::kValue;
    }
    switch (KindOfLetter(item.Letter())) {
    case ValueKind::kMode:
        return entity.writable ? Shape::kModes : Shape::kText;
    case ValueKind::kStatus:
        return entity.writable ? Shape::kStatuses : Shape::kText;
    case ValueKind::kTabulated:
        return entity.writable ? Shape::kTokens : Shape::kValue;
    default:
        return entity.writable ? Shape::kNumber : Shape::kValue;
    }
}

bool TakesCommands(Shape shape) {
    return shape != Shape::kValue && shape != Shape::kText && shape != Shape::kFlag;
}

std::string Component(Shape shape) {
    switch (shape) {
    case Shape::kFlag:
        return "binary_sensor";
    case Shape::kNumber:
        return "number";
    case Shape::kModes:
    case Shape::kStatuses:
    case Shape::kTokens:
        return "select";
    default:
        return "sensor";
    }
}

// A failed read carries no value: "None" makes the state unknown.
constexpr const char *kValueTemplate = "{{ value_json.value | default(None) }}";
constexpr const char *kTextTemplate = "{{ value_json.text | default(None) }}";
constexpr const char *kFlagTemplate = "{% if value_json.value is not defined %}None"
                                      "{% elif value_json.value %}ON{% else %}OFF{% endif %}";
constexpr const char *kAlertsTemplate =
    "{{ (value_json.active | map(attribute='name') | join(', ') or 'none')[:255] }}";

// The token whose number the reading carries: OFF below the off threshold.
std::string TokenTemplate(char letter) {
    char threshold[16];
    std::snprintf(threshold, sizeof threshold, "%.4f", kOffThreshold);
    return "{% if value_json.value is not defined %}None{% elif value_json.value < " +
           std::string(threshold) + " %}OFF{% else %}{% for t in " +
           TextList(TokensOfLetter(letter)) +
           " if t | float == value_json.value %}{{ t }}{% endfor %}{% endif %}";
}

// Statuses go to the instrument as their codes.
std::string StatusCommandTemplate() {
    std::string map = "{";
    for (std::size_t code = 0; code < kStatusTokens.size(); ++code) {
        map += (code == 0 ? "'" : ", '") + std::string(kStatusTokens[code]) +
               "': " + std::to_string(code);
    }
    return "{{ " + map + "}[value] }}";
}

struct Range {
    double min = 0;
    double max = 0;
    double step = 1;
};

// What a write of the item can carry: the cell's range over the scale, within the driver's
// number text.
Range RangeOf(const Item &item) {
    if (item.itemClass == EM_CLASS_SPECIAL) {
        return {0, item.address == "DISP" || item.address == "INIT" ? 1.0 : 0.0, 1};
    }
    const double scale = item.Scale();
    const auto whole = [&](double lowest, double highest) {
        return Range{std::max(lowest / scale, -kLargestText),
                     std::min(highest / scale, kLargestText), 1 / scale};
    };
    switch (item.dataType) {
    case EM_TYPE_FLOAT:
        return {-kLargestText, kLargestText, kFinestText};
    case EM_TYPE_INT32:
        return whole(-2147483648.0, 2147483647.0);
    case EM_TYPE_UINT32:
        return whole(0, 4294967295.0);
    case EM_TYPE_INT16:
        return whole(-32768, 32767);
    default:
        return whole(0, 65535);
    }
}

struct Place {
    const DiscoverySource &source;
    std::string base; // PREFIX/NAME
    std::string node; // the node id of the discovery topic
};

std::string ConfigTopic(const Place &place, const std::string &component,
                        const std::string &object) {
    return place.source.discoveryPrefix + "/" + component + "/" + place.node + "/" + Id(object) +
           "/config";
}

// The keys every entity of the instrument shares: availability, device and origin. The
// device is described in full by one entity (the alerts'); the others name it by its
// identifier, which is all Home Assistant needs to put them on it.
Json Common(const Place &place, const std::string &name, const std::string &object,
            bool describeDevice) {
    Json device;
    device.Raw("ids", "[" + JsonString(place.base) + "]");
    if (describeDevice) {
        device.Text("name", place.source.instrument->name)
            .Text("mf", "Eurotherm")
            .Text("mdl", "EM-1");
        if (!place.source.revision.empty()) {
            device.Text("sw", place.source.revision);
        }
    }
    Json json;
    json.Text("name", name)
        .Text("uniq_id", place.base + "/" + object)
        .Text("~", place.base)
        .Text("avty_t", "~/status")
        .Raw("dev", device.Done())
        .Raw("o", Json().Text("name", "em1 gateway").Text("sw", EM_VERSION_STRING).Done());
    return json;
}

// Seconds after which an unrenewed value is unknown: a few of its periods, or of the
// instrument's rounds when these are longer.
int ExpireAfter(const InstrumentConfig &instrument, const ItemConfig &config) {
    const double period = config.intervalSeconds.value_or(instrument.intervalSeconds);
    const double round = static_cast<double>(instrument.items.size() + 1) * kSecondsPerRead;
    return static_cast<int>(std::ceil(kPeriodsToExpire * std::max(period, round)));
}

DiscoveryMessage EntityMessage(const Place &place, const Entity &entity) {
    const Shape shape = ShapeOf(entity);
    const Item &item = entity.item;
    Json json = Common(place, item.address, item.address, false);
    if (entity.read) {
        json.Text("stat_t", "~/" + item.address);
        switch (shape) {
        case Shape::kText:
        case Shape::kModes:
        case Shape::kStatuses:
            json.Text("val_tpl", kTextTemplate);
            break;
        case Shape::kFlag:
            json.Text("val_tpl", kFlagTemplate);
            break;
        case Shape::kTokens:
            json.Text("val_tpl", TokenTemplate(item.Letter()));
            break;
        default:
            json.Text("val_tpl", kValueTemplate);
        }
        // Numbers and selects have no expiry of their own: their availability does it.
        const bool sensor = Component(shape) == "sensor" || shape == Shape::kFlag;
        if (sensor && !entity.config->onChange) {
            json.Number("exp_aft", ExpireAfter(*place.source.instrument, *entity.config));
        }
    }
    if (entity.writable && TakesCommands(shape)) {
        json.Text("cmd_t", "~/" + item.address + "/set").Raw("ret", "false").Number("qos", 1);
    }
    if (shape == Shape::kNumber) {
        const Range range = RangeOf(item);
        json.Number("min", range.min).Number("max", range.max).Number("step", range.step);
        json.Text("mode", "box");
    } else if (shape == Shape::kModes) {
        json.Raw("ops", TextList(kModeTokens));
    } else if (shape == Shape::kStatuses) {
        json.Raw("ops", TextList(kStatusTokens));
        json.Text("cmd_tpl", StatusCommandTemplate());
    } else if (shape == Shape::kTokens) {
        json.Raw("ops", TextList(TokensOfLetter(item.Letter()), true));
    }
    return {ConfigTopic(place, Component(shape), item.address), json.Done()};
}

DiscoveryMessage AlertsMessage(const Place &place) {
    Json json = Common(place, "Alerts", "alerts", true);
    json.Text("stat_t", "~/alerts")
        .Text("val_tpl", kAlertsTemplate)
        .Text("json_attr_t", "~/alerts");
    return {ConfigTopic(place, "sensor", "alerts"), json.Done()};
}

} // namespace

namespace {

// The entities that get a config: an item written but not read that takes no command has
// nothing to show.
std::vector<Entity> ShownEntities(const InstrumentConfig &instrument) {
    std::vector<Entity> entities = EntitiesOf(instrument);
    std::erase_if(entities, [](const Entity &entity) {
        return !entity.read && !TakesCommands(ShapeOf(entity));
    });
    return entities;
}

Place PlaceOf(const DiscoverySource &source) {
    const InstrumentConfig &instrument = *source.instrument;
    return Place{source, source.topicPrefix + "/" + instrument.name,
                 Id(source.topicPrefix) + "_" + Id(instrument.name)};
}

} // namespace

std::size_t DiscoveryCount(const DiscoverySource &source) {
    return ShownEntities(*source.instrument).size() + 1;
}

DiscoveryMessage DiscoveryMessageAt(const DiscoverySource &source, std::size_t index) {
    const std::vector<Entity> entities = ShownEntities(*source.instrument);
    const Place place = PlaceOf(source);
    return index < entities.size() ? EntityMessage(place, entities[index]) : AlertsMessage(place);
}

std::vector<DiscoveryMessage> DiscoveryMessages(const DiscoverySource &source) {
    const Place place = PlaceOf(source);
    std::vector<DiscoveryMessage> messages;
    for (const Entity &entity : ShownEntities(*source.instrument)) {
        messages.push_back(EntityMessage(place, entity));
    }
    messages.push_back(AlertsMessage(place));
    return messages;
}

std::vector<std::string> DiscoveryTopics(const DiscoverySource &source) {
    std::vector<std::string> topics;
    for (auto &message : DiscoveryMessages(source)) {
        topics.push_back(std::move(message.topic));
    }
    return topics;
}

std::string RevisionText(const std::string &reply) {
    const auto end = reply.find_last_not_of("\r\n\x03 ");
    return end == std::string::npos ? std::string() : reply.substr(0, end + 1);
}
