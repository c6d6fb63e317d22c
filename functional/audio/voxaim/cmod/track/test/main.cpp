// voxaim_unittest: the engine tests register themselves before main; the
// harness runs them as the command line asks. "--version" as the first
// argument, which the harness would refuse as unknown, prints the program's
// version instead.
#include "platform/audio/audtest/audunittest.h"

#include <cstdio>
#include <cstring>
#include <vx_version.h>

int main(int argc, char *argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("voxaim_unittest %s\n", VX_VERSION_STRING);
        return 0;
    }
    return audunittest_commandline(argc, argv);
}
