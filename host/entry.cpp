#include "host/main.h"

int main(int argc, char **argv) { return simMain(argc, argv); }
