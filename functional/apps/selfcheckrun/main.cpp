// selfcheckrun: runs the platform's sanity test programs over and over.
#include "functional/apps/selfcheckrun/selfcheckrun.h"

int main(int argc, char **argv) { return selfcheckrun_main(argc, argv); }
