// The converter's writer: the astronomical header and the unchanged samples.
#ifndef TARNFITS_WRITER_H
#define TARNFITS_WRITER_H

#include "main_loop.h"

// tarnfits, as the driver runs it.
extern const DriverProfile kTarnfitsProfile;

// Composes the 72 header cards at the local time of now and plans the
// output: header and unchanged samples. A card that would not fit in 80
// columns refuses the entry ("Header card too long").
Outcome composeTarnfitsOutput(const ListEntry& entry, const RunSettings& settings,
                              const CatalogueEntry& cat, const ObservationRecord& rec,
                              OutputPlan& plan);

#endif  // TARNFITS_WRITER_H
