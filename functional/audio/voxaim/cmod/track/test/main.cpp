// voxaim_unittest: the engine tests register themselves before main; the
// harness runs them as the command line asks.
#include "platform/audio/audtest/audunittest.h"

int main(int argc, char *argv[]) { return audunittest_commandline(argc, argv); }
