// Reading what the night's account is made of: the run list, with the
// converters' own code for it (runlist/runlist.h), and the error log.
#ifndef TARNLOOK_NIGHT_ACCOUNT_FILE_H
#define TARNLOOK_NIGHT_ACCOUNT_FILE_H

#include <map>
#include <optional>
#include <set>
#include <string>

#include "night_account.h"

namespace tarnlook {

// The account of the current folder's run list (tarnlist.dat, else
// TARNLIST.DAT, as the converters open it) and error log (tarnfits.log),
// given the outputs the run drew and those it passed over (output to
// reason): accountOf. Nothing when there is no run list to read.
std::optional<NightAccount> readAccount(const std::set<std::string>& drawn,
                                        const std::map<std::string, std::string>& passedOver);

}  // namespace tarnlook

#endif  // TARNLOOK_NIGHT_ACCOUNT_FILE_H
