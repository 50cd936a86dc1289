// The two Andor editors' writers: one output stage, two card maps and two
// sample rules.
#ifndef EDITORS_WRITERS_H
#define EDITORS_WRITERS_H

#include <cstddef>

#include "driver.h"
#include "output_stage.h"

// tarnfits4: 32-bit samples b1 b2 b3 b4 become (b1 + b3) mod 256, b4.
void convert32To16(const unsigned char* in, unsigned char* out, std::size_t count);
// tarnfits4s: 16-bit samples c1 c2 become c1 XOR 128, c2.
void flipTopBit(const unsigned char* in, unsigned char* out, std::size_t count);

extern const SampleRule kTarnfits4SampleRule;
extern const SampleRule kTarnfits4sSampleRule;

bool writeTarnfits4Output(const ListEntry& entry, const RunSettings& settings,
                          const CatalogueEntry& cat, const ObservationRecord& rec);
bool writeTarnfits4sOutput(const ListEntry& entry, const RunSettings& settings,
                           const CatalogueEntry& cat, const ObservationRecord& rec);

#endif  // EDITORS_WRITERS_H
