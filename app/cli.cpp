#include "app/cli.h"

#include "engine/console.h"

namespace tavro {
int ParseCommandLine(App&, int, char**) { return kContinue; }
int ProgramMain(int, char**) {
  initConsole();
  return 0;
}
}  // namespace tavro
