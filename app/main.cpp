#include "app/cli.h"
#include "gui/window.h"

int main(int argc, char** argv) { return tavro::ProgramMain(argc, argv, tavro::OpenWindow); }
