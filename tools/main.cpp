// tarnscsi: the camera from the command line.
#include "cli.h"

int main(int argc, char** argv) { return tarnscsi::tool::Run(argc, argv); }
