// What a value may be, beyond its type and pattern: the typed text formats a
// model may name (an IPv4 address, prefix or network), and the checks said
// in words for the help reply.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vornd/model.h"

namespace vornd {

// Returns the format a model names ("ipv4", "ipv4-prefix", "ipv4-network"),
// or nullopt for an unknown name.
std::optional<Format> parse_format(std::string_view name);

// Returns true when text is written in format f; every text is in none.
bool format_ok(Format f, std::string_view text);

// Returns "" when name may name a new entry of list, else why not.
std::string check_entry_name(const Def &list, std::string_view name);

// Returns one line that states in words what a parameter holds: its type,
// range or length, format or short pattern, choices and default, such as
// "Integer from 68 to 9000; default 1500.". "" for a node without a type.
std::string limits_line(const Def &def);

}  // namespace vornd
