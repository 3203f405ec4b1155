// quorsel-fleet's entry on Linux: the arguments are UTF-8 already.
#include "tools/fleet/fleet_main.h"

int main(int argc, char** argv) { return quorsel::RunFleetProgram(argc, argv); }
