#include "tool_command.h"

const char kSwitchChar = '/';
const char kSeparatorChar = '\\';
const bool kLowerCaseTools = false;
const bool kNameObject = false;
