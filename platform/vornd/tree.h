// One configuration: a tree of nodes instantiated from the model. The
// running configuration and every session's candidate are separate trees.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vornd/model.h"

namespace vornd {

struct Node {
  std::string name;
  std::string value;
  const Def *def = nullptr;
  Node *parent = nullptr;
  std::vector<std::unique_ptr<Node>> kids;
  // Lower-cased name -> first kid of that name, built on demand for long
  // lists so that lookups stay cheap; dropped whenever kids change.
  mutable std::unique_ptr<std::unordered_map<std::string, Node *>> index;
};

class Tree {
 public:
  // Builds the model's tree with defaults and the side-effect branch.
  explicit Tree(const Model &m);
  // Returns a deep copy (candidate from running and back).
  Tree clone() const;
  Tree(Tree &&) = default;
  Tree &operator=(Tree &&) = default;

  Node &root() { return *root_; }
  const Node &root() const { return *root_; }
  const Model &model() const { return *model_; }

  // Returns the node that a path text names, or nullptr.
  Node *resolve(std::string_view path) const;
  // Returns the kid whose name equals name ignoring ASCII case, first one
  // wins; nullptr when none.
  static Node *find_kid(const Node &parent, std::string_view name);
  // Appends a node built from def with its defaults; returns it.
  Node &add_kid(Node &parent, const Def &def, std::string_view name);
  // Removes and frees kid from its parent.
  static void remove_kid(Node &kid);
  // Renames a node, keeping its place.
  static void rename(Node &n, std::string_view name);
  // Returns the absolute path of n, names joined with "/" unencoded.
  static std::string path_of(const Node &n);
  // Counts the nodes below and including n.
  static size_t count(const Node &n);

 private:
  Tree() = default;
  const Model *model_ = nullptr;
  std::unique_ptr<Node> root_;
};

// Returns the components of a path text: split at "/" outside double quotes
// and not after a backslash, each dequoted, empty ones dropped.
std::vector<std::string> split_path(std::string_view path);
// Returns text with unescaped double quotes dropped and each backslash
// making the next character literal.
std::string dequote(std::string_view text);
// Returns name in the listing's encoded form.
std::string url_encode(std::string_view name);
// Returns true when text is well-formed UTF-8 (what the store can keep).
bool valid_utf8(std::string_view text);
// Returns true when a and b are equal ignoring ASCII case.
bool same_name(std::string_view a, std::string_view b);

}  // namespace vornd
