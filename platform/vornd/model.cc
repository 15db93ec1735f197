#include "vornd/model.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdint>
#include <regex>

#include "vornd/limits.h"
#include "vornd/tree.h"

namespace vornd {

struct Pattern {
  std::regex re;
};

namespace {

using json = nlohmann::ordered_json;

// Raised inside the loader only; load_model turns it into an error text.
struct ModelError {
  std::string where, what;
};

[[noreturn]] void fail(const std::string &where, const std::string &what) {
  throw ModelError{where, what};
}

// Returns the bits of an ops text; unknown letters are a model error.
uint8_t parse_ops(const std::string &text, const std::string &where) {
  uint8_t bits = 0;
  for (char c : text) {
    size_t i = kOpLetters.find(c);
    if (i == std::string_view::npos)
      fail(where, std::string("unknown operation letter '") + c + "'");
    bits |= static_cast<uint8_t>(1u << i);
  }
  return bits;
}

// Returns a JSON scalar as the text the daemon stores.
std::string scalar_text(const json &v, const std::string &where) {
  if (v.is_string()) return v.get<std::string>();
  if (v.is_boolean()) return v.get<bool>() ? "true" : "false";
  if (v.is_number_integer()) return std::to_string(v.get<int64_t>());
  fail(where, "value must be a string, an integer or a boolean");
}

Type parse_type(const json &n, const std::string &where) {
  if (!n.contains("type")) return Type::none;
  std::string t = n["type"].get<std::string>();
  if (t == "integer") return Type::integer;
  if (t == "string") return Type::string;
  if (t == "boolean") return Type::boolean;
  if (t == "choice") return Type::choice;
  fail(where, "unknown type '" + t + "'");
}

// Adds a fixed child; a second one of the same name could never be reached
// (the first match wins) and would not survive the store.
void add_child(Def &parent, const Def *child, const std::string &where) {
  for (const Def *other : parent.children)
    if (same_name(other->name, child->name))
      fail(where, "two nodes named '" + child->name + "'");
  parent.children.push_back(child);
}

class Loader {
 public:
  explicit Loader(Model &m) : m_(m) {}
  const Def *node(const json &n, const std::string &parent);

 private:
  void checks(Def &d, const json &n, const std::string &where);
  void list(Def &d, const json &n, const std::string &where);
  void entry_values(const Def &entry, InitialEntry &ie, const json &values,
                    const std::string &where);
  Model &m_;
};

// Returns the whole number n[key] from lo to hi; anything else (a
// fraction, or a number past 64 bits, which JSON reads as a fraction) fails
// naming where.
int64_t whole(const json &n, const char *key, int64_t lo, int64_t hi,
              const std::string &where) {
  const json &v = n[key];
  bool ok =
      v.is_number_integer() && (!v.is_number_unsigned() ||
                                v.get<uint64_t>() <= static_cast<uint64_t>(hi));
  int64_t x = ok ? v.get<int64_t>() : 0;
  if (!ok || x < lo || x > hi)
    fail(where, std::string("\"") + key + "\" must be a whole number from " +
                    std::to_string(lo) + " to " + std::to_string(hi));
  return x;
}

// Returns false when a repetition count in pattern passes 1000 or a
// back-reference number has more than four digits: the regex compiler
// copies the repeated part that many times, and past the range of its
// counter it overflows.
bool counts_bounded(std::string_view pattern) {
  bool in_class = false, in_count = false;
  unsigned long value = 0;
  for (size_t i = 0; i < pattern.size(); i++) {
    char c = pattern[i];
    if (c == '\\') {
      // A back-reference's number is read the same way as a count.
      size_t end = ++i;
      while (end < pattern.size() && end - i < 5 && isdigit(pattern[end]))
        end++;
      if (end - i > 4) return false;
    } else if (in_class) {
      in_class = c != ']';
    } else if (c == '[') {
      in_class = true;
    } else if (c == '{') {
      in_count = true, value = 0;
    } else if (in_count && c >= '0' && c <= '9') {
      value = value * 10 + static_cast<unsigned long>(c - '0');
      if (value > 1000) return false;
    } else if (in_count) {
      in_count = c == ',', value = 0;
    }
  }
  return true;
}

// Returns the format named by n[key], none when absent; an unknown name is
// a model error.
Format format_key(const json &n, const char *key, const std::string &where) {
  if (!n.contains(key)) return Format::none;
  std::string name = n[key].get<std::string>();
  std::optional<Format> f = parse_format(name);
  if (!f) fail(where, "unknown " + std::string(key) + " '" + name + "'");
  return *f;
}

void Loader::checks(Def &d, const json &n, const std::string &where) {
  constexpr int64_t kLeast = INT64_MIN, kMost = INT64_MAX;
  if (n.contains("min")) d.min = whole(n, "min", kLeast, kMost, where);
  if (n.contains("max")) d.max = whole(n, "max", kLeast, kMost, where);
  if (n.contains("min_len"))
    d.min_len =
        static_cast<uint32_t>(whole(n, "min_len", 0, UINT32_MAX, where));
  if (n.contains("max_len"))
    d.max_len =
        static_cast<uint32_t>(whole(n, "max_len", 0, UINT32_MAX, where));
  d.format = format_key(n, "format", where);
  if (d.format != Format::none && d.type != Type::string)
    fail(where, "\"format\" needs the type string");
  if (n.contains("pattern")) {
    d.pattern_text = n["pattern"].get<std::string>();
    if (!counts_bounded(d.pattern_text))
      fail(where, "bad pattern: a repetition count above 1000");
    try {
      d.pattern =
          std::make_shared<const Pattern>(Pattern{std::regex(d.pattern_text)});
    } catch (const std::regex_error &e) {
      fail(where, std::string("bad pattern: ") + e.what());
    }
  }
  if (n.contains("choices"))
    for (const json &c : n["choices"])
      d.choices.push_back(scalar_text(c, where));
  if (d.type == Type::boolean) d.choices = {"true", "false"};
  if (d.type == Type::choice && d.choices.empty())
    fail(where, "a choice needs \"choices\"");
  if (d.type == Type::none) return;
  d.fallback = n.contains("default") ? scalar_text(n["default"], where)
               : d.type == Type::integer && d.min > 0 ? std::to_string(d.min)
               : d.type == Type::integer              ? "0"
               : d.type == Type::boolean              ? "false"
               : d.type == Type::choice               ? d.choices.front()
                                                      : "";
  std::string why = check_value(d, d.fallback);
  if (!why.empty()) fail(where, "default '" + d.fallback + "': " + why);
  d.fallback = canonical(d, d.fallback);
}

void Loader::list(Def &d, const json &n, const std::string &where) {
  if (n.contains("entry")) d.entry = node(n["entry"], where);
  d.name_format = format_key(n, "name_format", where);
  if (d.name_format != Format::none && !d.entry)
    fail(where, "\"name_format\" without \"entry\"");
  if (n.contains("entries")) {
    if (!d.entry) fail(where, "\"entries\" without \"entry\"");
    for (const json &e : n["entries"]) {
      InitialEntry ie;
      ie.name = e.is_string() ? e.get<std::string>()
                              : e.at("name").get<std::string>();
      if (e.is_object() && e.contains("values"))
        entry_values(*d.entry, ie, e["values"], where + "/" + ie.name);
      std::string why = check_entry_name(d, ie.name);
      if (!why.empty()) fail(where, "entry '" + ie.name + "': " + why);
      for (const InitialEntry &other : d.entries)
        if (same_name(other.name, ie.name))
          fail(where, "two entries named '" + ie.name + "'");
      d.entries.push_back(std::move(ie));
    }
  }
  if (n.contains("mirror")) d.mirror = n["mirror"].get<std::string>();
}

// Checks an initial entry's values as a set would: a value the daemon would
// refuse from a client must not reach the store by way of the model.
void Loader::entry_values(const Def &entry, InitialEntry &ie,
                          const json &values, const std::string &where) {
  for (const auto &item : values.items()) {
    const std::string &k = item.key();
    std::string text = scalar_text(item.value(), where);
    auto it = std::find_if(entry.children.begin(), entry.children.end(),
                           [&](const Def *c) { return same_name(c->name, k); });
    if (it == entry.children.end() || (*it)->type == Type::none)
      fail(where, "no parameter '" + k + "'");
    std::string why = check_value(**it, text);
    if (!why.empty()) fail(where + "/" + k, "value '" + text + "': " + why);
    ie.values.emplace_back(k, text);
  }
}

const Def *Loader::node(const json &n, const std::string &parent) {
  if (!n.is_object()) fail(parent, "a node must be an object");
  Def &d = m_.add();
  d.name = n.contains("name") ? n["name"].get<std::string>() : "";
  std::string where = parent + "/" + d.name;
  d.help = n.value("help", "");
  d.type = parse_type(n, where);
  std::string dflt_ops = d.type == Type::none ? "hl" : "hgs";
  d.ops = parse_ops(n.value("ops", dflt_ops), where);
  d.hidden = n.value("hidden", false);
  d.matches = n.value("matches", "");
  if (!d.matches.empty()) d.ops |= kMatch;
  checks(d, n, where);
  if (n.contains("children"))
    for (const json &c : n["children"]) add_child(d, node(c, where), where);
  list(d, n, where);
  if (n.contains("reveal")) {
    const json &r = n["reveal"];
    d.reveal = Reveal{scalar_text(r.at("when"), where),
                      r.at("at").get<std::string>(), node(r.at("node"), where)};
  }
  return &d;
}

}  // namespace

Def &Model::add() {
  defs_.push_back(std::make_unique<Def>());
  return *defs_.back();
}

size_t line_of(std::string_view text, size_t pos) {
  pos = std::min(pos, text.size());
  size_t line = 1;
  for (size_t i = 0; i < pos; ++i)
    if (text[i] == '\n') ++line;
  return line;
}

std::optional<std::unique_ptr<Model>> load_model(std::string_view text,
                                                 std::string_view origin,
                                                 std::string &error) {
  auto m = std::make_unique<Model>();
  Def &root = m->add();
  root.ops = kHelp | kList;
  root.help = "The device configuration.";
  Def &param = m->add();
  param.name = "param";
  param.ops = kHelp | kList;
  param.hidden = true;
  param.help = "Internal information for clients.";
  Def &effect = m->add();
  effect.ops = kHelp | kGet;
  effect.hidden = true;
  effect.type = Type::string;
  effect.help = "Subtree to read again after a change here.";
  m->param_def = &param;
  m->effect_def = &effect;
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::parse_error &e) {
    error = std::string(origin) + ":" + std::to_string(line_of(text, e.byte)) +
            ": " + e.what();
    return std::nullopt;
  } catch (const json::exception &e) {  // a number too large, for one
    error = std::string(origin) + ": " + e.what();
    return std::nullopt;
  }
  try {
    if (!doc.is_object() || !doc.contains("nodes"))
      fail("", "the model needs a \"nodes\" array");
    Loader l(*m);
    for (const json &n : doc["nodes"]) add_child(root, l.node(n, ""), "");
  } catch (const ModelError &e) {
    error = std::string(origin) + ": " + (e.where.empty() ? "/" : e.where) +
            ": " + e.what;
    return std::nullopt;
  } catch (const json::exception &e) {
    error = std::string(origin) + ": " + e.what();
    return std::nullopt;
  }
  return m;
}

namespace {

bool parse_int(std::string_view v, int64_t &out) {
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
  return ec == std::errc() && p == v.data() + v.size() && !v.empty();
}

}  // namespace

std::string check_value(const Def &def, std::string_view value) {
  switch (def.type) {
    case Type::none:
      return "the node holds no value";
    case Type::integer: {
      int64_t v;
      if (!parse_int(value, v)) return "not an integer";
      if (v < def.min || v > def.max) return "out of range";
      return "";
    }
    case Type::boolean:
      for (std::string_view b :
           {"true", "false", "yes", "no", "on", "off", "1", "0"})
        if (value == b) return "";
      return "not a boolean";
    case Type::choice:
      for (const std::string &c : def.choices)
        if (value == c) return "";
      return "not one of the choices";
    case Type::string:
      break;
  }
  if (value.size() < def.min_len || value.size() > def.max_len)
    return "length out of range";
  // std::regex matches recursively, a few frames per character: a long
  // value would overflow the stack and end the daemon.
  constexpr size_t kPatternMax = 1024;
  if (def.pattern && value.size() > kPatternMax)
    return "too long to match the pattern";
  // An empty text is the way to leave an optional address unset.
  bool unset = value.empty() && def.min_len == 0;
  if (!unset && !format_ok(def.format, value)) return "not in its format";
  if (def.pattern &&
      !std::regex_match(value.begin(), value.end(), def.pattern->re))
    return "does not match the pattern";
  return "";
}

std::string canonical(const Def &def, std::string_view value) {
  if (def.type == Type::boolean) {
    bool on =
        value == "true" || value == "yes" || value == "on" || value == "1";
    return on ? "true" : "false";
  }
  if (def.type == Type::integer) {
    int64_t v = 0;
    parse_int(value, v);
    return std::to_string(v);
  }
  return std::string(value);
}

std::string ops_letters(uint8_t ops) {
  std::string s;
  for (size_t i = 0; i < kOpLetters.size(); ++i)
    if (ops & (1u << i)) s.push_back(kOpLetters[i]);
  return s;
}

}  // namespace vornd
