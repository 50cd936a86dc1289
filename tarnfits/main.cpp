// tarnfits: converts the night's camera files into astronomical FITS files.
#include "writer.h"

int main(int argc, char** argv) { return runMain(argc, argv, kTarnfitsProfile); }
