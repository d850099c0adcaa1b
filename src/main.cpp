#include "registration.h"

int main(int argc, char** argv) { return LoomregMain(argc, argv); }
