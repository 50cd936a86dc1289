// tarnfits4: rewrites 32-bit Andor files as 16-bit files with an edited header.
#include "writers.h"

int main(int argc, char** argv) { return runMain(argc, argv, kTarnfits4Profile); }
