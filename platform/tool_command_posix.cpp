#include "tool_command.h"

const char kSwitchChar = '-';
const bool kLowerCaseTools = true;
const bool kNameObject = true;
