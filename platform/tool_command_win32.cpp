#include "tool_command.h"

const char kSwitchChar = '/';
const bool kLowerCaseTools = false;
const bool kNameObject = false;
