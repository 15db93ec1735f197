// A small model shared by the daemon's unit tests: a creatable list that a
// status list mirrors, a parameter that reveals a node, and typed checks.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "vornd/model.h"

namespace vornd_test {

inline constexpr const char *kModel = R"json({"nodes": [
 {"name": "sys", "help": "System.", "children": [
   {"name": "name", "type": "string", "default": "box", "min_len": 1,
    "max_len": 8, "pattern": "[a-z0-9]+", "help": "Host name."},
   {"name": "level", "type": "integer", "min": 1, "max": 5, "default": 3,
    "help": "A level."},
   {"name": "zone", "type": "choice", "choices": ["utc", "cet"], "help": "Zone."},
   {"name": "on", "type": "boolean", "help": "Switch."},
   {"name": "note", "type": "string", "help": "Free text."},
   {"name": "serial", "type": "string", "ops": "hg", "default": "S1",
    "help": "Serial."},
   {"name": "uplink", "type": "string", "default": "a", "matches": "/ports",
    "help": "A port name."}]},
 {"name": "ports", "ops": "adhl", "mirror": "/state/ports", "help": "Ports.",
  "entry": {"ops": "hlr", "help": "A port.", "children": [
    {"name": "mtu", "type": "integer", "min": 68, "max": 9000, "default": 1500,
     "help": "MTU."},
    {"name": "tap", "type": "boolean", "help": "Tap.",
     "reveal": {"when": "true", "at": "/state", "node":
       {"name": "tapping", "help": "Taps.", "type": "string", "ops": "hg"}}}]},
  "entries": [{"name": "a", "values": {"mtu": 1400}}, "b"]},
 {"name": "state", "help": "Status.", "children": [
   {"name": "ports", "help": "Port states.", "entry": {"help": "State.",
    "children": [{"name": "link", "type": "string", "ops": "hg",
                  "help": "Link."}]}}]}
]})json";

// Returns the shared test model; fails the test when it does not load.
inline std::unique_ptr<vornd::Model> test_model() {
  std::string error;
  auto m = vornd::load_model(kModel, "test.json", error);
  EXPECT_TRUE(m) << error;
  return m ? std::move(*m) : nullptr;
}

}  // namespace vornd_test
