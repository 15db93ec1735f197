// help, cd and version: the daemon's help texts and the current node.
#pragma once

// help_text is declared where completion needs it: the decoded help text
// for the command's path (and its last parameter word), the not-available
// text when the daemon refuses, or null when nothing came back.
#include "lang/completion.h"
