#include "app/cli.h"

int main(int argc, char** argv) { return tavro::ProgramMain(argc, argv); }
