// The daemon's command line.
#pragma once

#include <optional>
#include <string>

namespace vornd {

struct Options {
  std::string socket = "/dev/vornd";
  std::string listen;  // HOST:PORT, empty = no TCP
  std::string model;
  long synthetic = 0;
  std::string store;
  std::string users;
  bool help = false;
};

// Returns the options, or nullopt with error set to a one-line reason.
std::optional<Options> parse_options(int argc, char **argv, std::string &error);

// Returns the usage text.
const char *usage_text();

}  // namespace vornd
