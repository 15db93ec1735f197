// help, cd and version: the daemon's help texts and the current node.
#pragma once

// help_text is declared in lang/completion.h, where completion needs it.
#include "lang/completion.h"
