// The updater's entry point: argv in, exit code out.
#include "app/entry_point.h"
#include "sys/arguments.h"

int main(int argc, char** argv) { return nx::runAutoupdate(nx::sys::commandLineArguments(argc, argv)); }
