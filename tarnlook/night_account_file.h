// Reading what the night's account is made of: the run list, with the
// converters' own code for it (runlist/runlist.h), the converters' run
// records, the error log and the folder's camera files.
#ifndef TARNLOOK_NIGHT_ACCOUNT_FILE_H
#define TARNLOOK_NIGHT_ACCOUNT_FILE_H

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "night_account.h"

namespace tarnlook {

// The entry lines of the current folder's run list (tarnlist.dat, else
// TARNLIST.DAT, as the converters open it), piece by piece as the
// converters' main loop takes them; nothing when there is no run list.
std::optional<std::vector<ListLine>> readRunListLines();

// The account of the current folder for its run list `lines`, given the
// outputs the run drew and those it passed over (output to reason): from
// the run records tarnfits-run.csv, tarnfits4-run.csv and tarnfits4s-run.csv
// that can be read (accountFromRecords), else from the error log
// tarnfits.log (accountFromLog); with the camera files that no line names.
// Without a run list, from the records alone (a run may have stopped for
// want of it); nothing when there is neither.
std::optional<NightAccount> readAccount(const std::optional<std::vector<ListLine>>& lines,
                                        const std::set<std::string>& drawn,
                                        const std::map<std::string, std::string>& passedOver);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_ACCOUNT_FILE_H
