#!/usr/bin/env python3
"""Checks Home Assistant discovery configs, one "TOPIC PAYLOAD" line each (mosquitto_sub -v),
against the keys and types that Home Assistant documents for MQTT discovery: every key known
to its component (abbreviated or not), of its type, the required ones present, and the topics
and ids well formed. Prints one line per fault; exits with the number of faults. With "key",
prints the value of a key (its full name) of the config on TOPIC, its base topic resolved.

Usage: discovery_check.py FILE PREFIX
       discovery_check.py key FILE TOPIC KEY"""
import json
import re
import sys

TEXT, WHOLE, FLAG, NUMBER, TEXTS = str, int, bool, "number", "list of texts"
# A nested object: its keys with their types, and the required ones; a list of them.
DEVICE = ({"identifiers": TEXTS, "name": TEXT, "manufacturer": TEXT, "model": TEXT,
           "model_id": TEXT, "sw_version": TEXT, "hw_version": TEXT, "serial_number": TEXT,
           "suggested_area": TEXT, "configuration_url": TEXT, "via_device": TEXT},
          {"identifiers"})
ORIGIN = ({"name": TEXT, "sw_version": TEXT, "support_url": TEXT}, {"name"})
AVAILABILITY = [({"topic": TEXT, "payload_available": TEXT, "payload_not_available": TEXT,
                  "value_template": TEXT}, {"topic"})]
# Keys every entity may carry (of those we publish or Home Assistant documents for all).
COMMON = {
    "name": TEXT, "unique_id": TEXT, "object_id": TEXT, "availability": AVAILABILITY,
    "availability_topic": TEXT, "payload_available": TEXT, "payload_not_available": TEXT,
    "availability_mode": TEXT, "device": DEVICE, "origin": ORIGIN, "icon": TEXT,
    "entity_category": TEXT, "enabled_by_default": FLAG, "encoding": TEXT, "qos": WHOLE,
    "json_attributes_topic": TEXT, "json_attributes_template": TEXT,
}
# component: (its own keys with their types, the required keys)
COMPONENTS = {
    "sensor": ({"state_topic": TEXT, "value_template": TEXT, "expire_after": WHOLE,
                "force_update": FLAG, "unit_of_measurement": TEXT, "device_class": TEXT,
                "state_class": TEXT, "suggested_display_precision": WHOLE},
               {"state_topic"}),
    "binary_sensor": ({"state_topic": TEXT, "value_template": TEXT, "expire_after": WHOLE,
                       "force_update": FLAG, "payload_on": TEXT, "payload_off": TEXT,
                       "off_delay": WHOLE, "device_class": TEXT},
                      {"state_topic"}),
    "number": ({"command_topic": TEXT, "command_template": TEXT, "state_topic": TEXT,
                "value_template": TEXT, "min": NUMBER, "max": NUMBER, "step": NUMBER,
                "mode": TEXT, "retain": FLAG, "optimistic": FLAG, "payload_reset": TEXT,
                "unit_of_measurement": TEXT, "device_class": TEXT},
               {"command_topic"}),
    "select": ({"command_topic": TEXT, "command_template": TEXT, "state_topic": TEXT,
                "value_template": TEXT, "options": TEXTS, "retain": FLAG, "optimistic": FLAG},
               {"command_topic", "options"}),
}
# The abbreviations Home Assistant documents, of those a config may hold here.
ABBREVIATIONS = {
    "avty": "availability", "avty_t": "availability_topic", "avty_mode": "availability_mode",
    "cmd_t": "command_topic", "cmd_tpl": "command_template", "dev": "device",
    "dev_cla": "device_class", "en": "enabled_by_default", "ent_cat": "entity_category",
    "exp_aft": "expire_after", "frc_upd": "force_update", "ic": "icon",
    "json_attr_t": "json_attributes_topic", "json_attr_tpl": "json_attributes_template",
    "o": "origin", "obj_id": "object_id", "ops": "options", "opt": "optimistic",
    "pl_avail": "payload_available", "pl_not_avail": "payload_not_available",
    "pl_on": "payload_on", "pl_off": "payload_off", "pl_rst": "payload_reset", "ret": "retain",
    "stat_cla": "state_class", "stat_t": "state_topic", "uniq_id": "unique_id",
    "unit_of_meas": "unit_of_measurement", "val_tpl": "value_template",
}
DEVICE_ABBREVIATIONS = {"ids": "identifiers", "mf": "manufacturer", "mdl": "model",
                        "mdl_id": "model_id", "sw": "sw_version", "hw": "hw_version",
                        "sn": "serial_number", "sa": "suggested_area", "cu": "configuration_url"}
ORIGIN_ABBREVIATIONS = {"sw": "sw_version", "url": "support_url"}
ID = re.compile(r"^[a-zA-Z0-9_-]+$")
faults = []


def fault(where, what):
    faults.append(f"{where}: {what}")


def check_object(where, value, keys, required):
    if not isinstance(value, dict):
        return fault(where, "not an object")
    for key in required - value.keys():
        fault(where, f"{key} missing")
    for key, item in value.items():
        if key not in keys:
            fault(where, f"{key} is not a documented key")
        else:
            check_type(f"{where}.{key}", item, keys[key])


def check_type(where, value, kind):
    if isinstance(kind, tuple):
        check_object(where, value, *kind)
    elif isinstance(kind, list):
        if not isinstance(value, list) or not value:
            return fault(where, "not a list")
        for entry in value:
            check_type(where, entry, kind[0])
    elif kind == TEXTS:
        if not (isinstance(value, list) and value and all(isinstance(v, str) for v in value)):
            fault(where, "not a list of texts")
    elif kind == NUMBER:
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            fault(where, "not a number")
    elif isinstance(value, bool) and kind != FLAG or not isinstance(value, kind):
        fault(where, f"not of type {kind.__name__}")


def expanded(config):
    """The config with every key in full and the base topic ~ put in its topics."""
    base = config.pop("~", None)
    full = {ABBREVIATIONS.get(key, key): value for key, value in config.items()}
    for key, names in (("device", DEVICE_ABBREVIATIONS), ("origin", ORIGIN_ABBREVIATIONS)):
        if isinstance(full.get(key), dict):
            full[key] = {names.get(k, k): v for k, v in full[key].items()}
    for key, value in full.items():
        if base is not None and key.endswith("_topic") and isinstance(value, str):
            full[key] = base + value[1:] if value.startswith("~") else value
    return full


def key_of(path, topic, key):
    for line in open(path, encoding="utf-8"):
        if line.startswith(topic + " "):
            value = expanded(json.loads(line.split(" ", 1)[1])).get(key)
            print(" ".join(value) if isinstance(value, list) else value)
            return 0
    return 1


def main(path, prefix):
    ids = set()
    for line in open(path, encoding="utf-8"):
        topic, _, payload = line.rstrip("\n").partition(" ")
        levels = topic.split("/")
        if len(levels) != 5 or levels[0] != prefix or levels[4] != "config":
            fault(topic, "not PREFIX/COMPONENT/NODE/OBJECT/config")
            continue
        component = levels[1]
        if component not in COMPONENTS:
            fault(topic, f"unknown component {component}")
            continue
        if not (ID.match(levels[2]) and ID.match(levels[3])):
            fault(topic, "node or object id with other characters than [a-zA-Z0-9_-]")
        try:
            config = expanded(json.loads(payload))
        except ValueError as error:
            fault(topic, f"not JSON: {error}")
            continue
        own, required = COMPONENTS[component]
        check_object(topic, config, {**COMMON, **own}, required | {"unique_id", "device"})
        if config.get("unique_id") in ids:
            fault(topic, "unique_id taken already")
        ids.add(config.get("unique_id"))
        if config.get("retain") is not False and "command_topic" in config:
            fault(topic, "commands would be retained")
        low, high, step = config.get("min", 1), config.get("max", 100), config.get("step", 1)
        if all(isinstance(v, (int, float)) for v in (low, high, step)) and not (
                low <= high and step >= 0.001):
            fault(topic, "min above max, or a step below 0.001")
    for line in faults:
        print("FAIL:", line)
    return len(faults)


if __name__ == "__main__":
    sys.exit(key_of(*sys.argv[2:]) if sys.argv[1] == "key" else main(sys.argv[1], sys.argv[2]))
