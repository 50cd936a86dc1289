// The converter's writer: the astronomical header and the unchanged samples.
#ifndef TARNFITS_WRITER_H
#define TARNFITS_WRITER_H

#include "driver.h"

// Composes the 72 header cards, refuses the entry when a card would not fit
// in 80 columns ("Header card too long"), then writes header, samples and
// zero fill. True when the output was written.
bool writeTarnfitsOutput(const ListEntry& entry, const RunSettings& settings,
                         const CatalogueEntry& cat, const ObservationRecord& rec);

#endif  // TARNFITS_WRITER_H
