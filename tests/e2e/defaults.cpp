// What each test program runs when the environment does not say otherwise
// (see harness.h): compiled once for the native program and once for the
// Windows build under its runner.
#include "harness.h"

namespace zorbex_e2e {

const char kDefaultBinary[] = ZORBEX_E2E_BINARY_DEFAULT;
const char kDefaultTools[] = ZORBEX_E2E_TOOLS_DEFAULT;
const char kDefaultRunner[] = ZORBEX_E2E_RUNNER_DEFAULT;

}  // namespace zorbex_e2e
