// kmsgwatch: follows the kernel log and reacts to known incidents.
#include "functional/apps/kmsgwatch/kmsgwatch.h"

int main(int argc, char **argv) { return kmsgwatch_main(argc, argv); }
