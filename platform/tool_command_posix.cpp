#include "tool_command.h"

const char kSwitchChar = '-';
const char kSeparatorChar = '/';
const bool kLowerCaseTools = true;
const bool kNameObject = true;
