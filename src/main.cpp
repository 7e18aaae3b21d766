#include "cli/cli.h"

int main(int argc, char** argv) { return rdsgen::runRdsgen(argc, argv); }
