// tarnfits: converts the night's camera files into astronomical FITS files.
#include "driver.h"

int main(int argc, char** argv) { return runMain(argc, argv, kTarnfitsProfile); }
