// A small JSON reader for tests that parse what a program printed: objects, arrays,
// strings, numbers, true, false and null.
#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct JsonValue;
using JsonObject = std::map<std::string, JsonValue>;
using JsonArray = std::vector<JsonValue>;

struct JsonValue {
    std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<JsonArray>,
                 std::shared_ptr<JsonObject>>
        value;

    bool IsNumber() const { return std::holds_alternative<double>(value); }
    bool IsString() const { return std::holds_alternative<std::string>(value); }
    double Number() const { return std::get<double>(value); }
    const std::string &String() const { return std::get<std::string>(value); }
    const JsonArray &Array() const { return *std::get<std::shared_ptr<JsonArray>>(value); }
    const JsonObject &Object() const { return *std::get<std::shared_ptr<JsonObject>>(value); }
    bool Has(const std::string &key) const { return Object().count(key) != 0; }
    const JsonValue &operator[](const std::string &key) const { return Object().at(key); }
};

// Parses one JSON text; throws std::runtime_error at the first fault or trailing text.
JsonValue ParseJson(std::string_view text);
