// The 72-card astronomical header that tarnfits writes in front of the
// pixel data of each converted file.
#ifndef TARNFITS_ASTRO_HEADER_H
#define TARNFITS_ASTRO_HEADER_H

#include <ctime>
#include <string>
#include <vector>

#include "records.h"

constexpr int kAstronomicalHeaderCards = 72;

// The texts of cards 1 to 72, in order, each as composed and neither padded
// nor cut: the caller blank-fills them to 80 characters and refuses a header
// in which a card is longer.
//
// The layout follows the camera set-up that the header reader recorded: an
// Andor camera gives the Andor layout, T5 and S5 the other one. Saved
// input cards are placed byte for byte. `now` is the local time of writing,
// which the DATE card shows.
//
// Uses the result areas of obslib; every text it takes from them is copied
// before the next call that writes the same area.
std::vector<std::string> composeAstronomicalHeader(
    const ObservationRecord& rec, const ListEntry& entry,
    const CatalogueEntry& cat, const RunSettings& settings,
    const std::tm& now);

#endif  // TARNFITS_ASTRO_HEADER_H
