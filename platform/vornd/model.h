// The device model: node definitions loaded from JSON, shared read-only by
// every configuration tree built from it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vornd {

// Operation bits, in the order of the letters "adhlgsrm".
enum Op : uint8_t {
  kAdd = 0x01,
  kDelete = 0x02,
  kHelp = 0x04,
  kList = 0x08,
  kGet = 0x10,
  kSet = 0x20,
  kRename = 0x40,
  kMatch = 0x80,
};
inline constexpr std::string_view kOpLetters = "adhlgsrm";

enum class Type : uint8_t { none, integer, string, boolean, choice };

// A typed form a string must take (model key "format"), or that the names
// of a list's entries must take ("name_format").
enum class Format : uint8_t { none, ipv4, ipv4_prefix, ipv4_network };

struct Def;
struct Pattern;  // a compiled regular expression, kept out of this header

// A set of this parameter to `when` makes `node` appear under `at`; any other
// value removes it.
struct Reveal {
  std::string when;
  std::string at;
  const Def *node = nullptr;
};

// A list entry present in the model itself, with values over the defaults.
struct InitialEntry {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;
};

struct Def {
  std::string name;
  std::string help;
  uint8_t ops = 0;
  bool hidden = false;
  Type type = Type::none;
  std::string fallback;  // default value text
  int64_t min = INT64_MIN, max = INT64_MAX;
  uint32_t min_len = 0, max_len = UINT32_MAX;
  std::shared_ptr<const Pattern> pattern;
  std::string pattern_text;  // as the model wrote it, for the help line
  Format format = Format::none;
  Format name_format = Format::none;  // of the entries of a list
  std::vector<std::string> choices;
  std::string matches;  // path of a list whose entry names are the values
  std::vector<const Def *> children;
  const Def *entry = nullptr;  // template of list entries
  std::vector<InitialEntry> entries;
  std::string mirror;  // list whose entries follow this list's entries
  std::optional<Reveal> reveal;
};

class Model {
 public:
  // Returns a new definition owned by the model.
  Def &add();
  const Def &root() const { return *defs_.front(); }
  Def &root() { return *defs_.front(); }
  // Built-in definitions of the hidden side-effect branch.
  const Def *param_def = nullptr;   // "/param" and its folders
  const Def *effect_def = nullptr;  // an entry carrying a value
  size_t size() const { return defs_.size(); }

 private:
  std::vector<std::unique_ptr<Def>> defs_;
};

// Returns the model parsed from JSON text, or nullopt with `error` set to
// "<origin>:<line>: <what>" (syntax) or "<origin>: <node>: <what>".
std::optional<std::unique_ptr<Model>> load_model(std::string_view text,
                                                 std::string_view origin,
                                                 std::string &error);

// Returns the 1-based line holding byte offset `pos` of text.
size_t line_of(std::string_view text, size_t pos);

// Returns "" when value passes the definition's checks, else why not. The
// matches check is left to the caller, which knows the tree.
std::string check_value(const Def &def, std::string_view value);

// Returns the canonical text of a value that passed check_value.
std::string canonical(const Def &def, std::string_view value);

// Returns the operation letters of bits, in "adhlgsrm" order.
std::string ops_letters(uint8_t ops);

}  // namespace vornd
