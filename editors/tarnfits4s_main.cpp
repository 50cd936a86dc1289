// tarnfits4s: rewrites 16-bit Andor files with BZERO and BSCALE cards and the
// top bit of every sample inverted.
#include "writers.h"

int main(int argc, char** argv) { return runMain(argc, argv, kTarnfits4sProfile); }
