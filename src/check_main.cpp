#include "check_command.h"

int main(int argc, char** argv) { return loomreg::CheckMain(argc, argv); }
