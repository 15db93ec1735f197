#include "vornd/synthetic.h"

#include <nlohmann/json.hpp>

namespace vornd {
namespace {

using json = nlohmann::ordered_json;

constexpr const char *kLists[] = {"ports", "vlans", "routes"};
constexpr long kPerEntry = 8;  // the entry and its seven parameters

// Returns the template of one list entry: seven parameters.
json entry_template(const std::string &list) {
  json kids = json::array({
      {{"name", "enabled"},
       {"type", "boolean"},
       {"default", true},
       {"help", "Whether this " + list + " entry is in use."}},
      {{"name", "mtu"},
       {"type", "integer"},
       {"min", 68},
       {"max", 9000},
       {"default", 1500},
       {"help", "Largest packet size."}},
      {{"name", "speed"},
       {"type", "choice"},
       {"choices", {"auto", "10", "100", "1000"}},
       {"help", "Link speed."}},
      {{"name", "mode"},
       {"type", "choice"},
       {"choices", {"access", "trunk", "hybrid"}},
       {"help", "Forwarding mode."}},
      {{"name", "priority"},
       {"type", "integer"},
       {"min", 0},
       {"max", 7},
       {"help", "Queue priority."}},
      {{"name", "label"},
       {"type", "string"},
       {"max_len", 32},
       {"pattern", "[A-Za-z0-9 _-]*"},
       {"help", "Free text label."}},
      {{"name", "counter"},
       {"type", "integer"},
       {"ops", "hg"},
       {"help", "Packets seen (read-only)."}},
  });
  return {{"name", "entry"},
          {"ops", "hlr"},
          {"help", "One " + list + " entry."},
          {"children", kids}};
}

json system_branch() {
  json kids = json::array();
  for (int i = 0; i < 8; ++i)
    kids.push_back({{"name", "opt" + std::to_string(i)},
                    {"type", "integer"},
                    {"min", 0},
                    {"max", 1000},
                    {"help", "A system setting."}});
  return {{"name", "system"}, {"help", "System settings."}, {"children", kids}};
}

}  // namespace

std::string synthetic_model_text(long n) {
  long fixed = 1 + 9 + 3;  // root, system branch, the three lists
  long entries = n > fixed + kPerEntry ? (n - fixed) / kPerEntry : 1;
  json nodes = json::array({system_branch()});
  for (long l = 0; l < 3; ++l) {
    long count = entries / 3 + (l < entries % 3 ? 1 : 0);
    std::string name = kLists[l];
    json names = json::array();
    for (long i = 0; i < count; ++i)
      names.push_back(std::string(1, name[0]) + std::to_string(i));
    nodes.push_back({{"name", name},
                     {"ops", "adhl"},
                     {"help", "A list of " + name + "."},
                     {"entry", entry_template(name)},
                     {"entries", names}});
  }
  return json{{"nodes", nodes}}.dump();
}

}  // namespace vornd
