// The two Andor editors' writers: one output stage, two card maps and two
// sample rules.
#ifndef EDITORS_WRITERS_H
#define EDITORS_WRITERS_H

#include <cstddef>

#include "main_loop.h"
#include "output_stage.h"

// tarnfits4: 32-bit samples b1 b2 b3 b4 become (b1 + b3) mod 256, b4.
void convert32To16(const unsigned char* in, unsigned char* out, std::size_t count);
// tarnfits4s: 16-bit samples c1 c2 become c1 XOR 128, c2.
void flipTopBit(const unsigned char* in, unsigned char* out, std::size_t count);

extern const SampleRule kTarnfits4SampleRule;
extern const SampleRule kTarnfits4sSampleRule;

// The two editors, as the driver runs them.
extern const DriverProfile kTarnfits4Profile;
extern const DriverProfile kTarnfits4sProfile;

// Plan the edited output: the 36-card edited header for an Andor input (none
// for T5 and S5), and the samples through the program's rule.
Outcome composeTarnfits4Output(const ListEntry& entry, const RunSettings& settings,
                               const CatalogueEntry& cat, const ObservationRecord& rec,
                               OutputPlan& plan);
Outcome composeTarnfits4sOutput(const ListEntry& entry, const RunSettings& settings,
                                const CatalogueEntry& cat, const ObservationRecord& rec,
                                OutputPlan& plan);

#endif  // EDITORS_WRITERS_H
