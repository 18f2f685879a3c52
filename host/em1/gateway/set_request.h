// The payload of a set message: a bare value ("42.5", "AUTO") or a JSON object
// {"value": 42.5, "id": "any string"} whose id comes back with the result, so that a
// publisher can tell the results of two identical requests apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct SetRequest {
    std::string value; // a number's text as given, or a token
    std::string id;    // the id as its JSON text (a string with its quotes, or a number); empty
                       // when none was given
};

struct ParsedSet {
    std::optional<SetRequest> request;
    std::string problem; // why the payload is no request
};

ParsedSet ParseSetPayload(std::string_view payload);
