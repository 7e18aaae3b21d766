// The process-wide records of one run.
#include "cli/cli.h"

Settings settings;
RunData run;
