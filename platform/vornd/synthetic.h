// A generated model of about N nodes for benchmarks: the same input always
// gives the same tree.
#pragma once

#include <memory>
#include <string>

#include "vornd/model.h"

namespace vornd {

// Returns the JSON text of a model of about n nodes (see docs/model.md).
std::string synthetic_model_text(long n);

}  // namespace vornd
