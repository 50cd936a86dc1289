// The object catalogue: one target a line, name, equinox, RA and Dec.
#ifndef DRIVER_CATALOGUE_H
#define DRIVER_CATALOGUE_H

#include <sys/types.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "outcome.h"
#include "records.h"

// One catalogue line as "%s %lf %2d %2d %lf %1s%2d %2d %lf" reads it.
struct CatalogueLine {
  int fields = 0;  // how many were read, 0 to 9
  std::string name;
  double equinox = 0.0;
  int raHours = 0, raMinutes = 0;
  double raSeconds = 0.0;
  char sign = 0;
  int decDegrees = 0, decMinutes = 0;
  double decSeconds = 0.0;
  bool endsClean = false;  // nine fields, and a blank or the end after the last
};
CatalogueLine scanCatalogueLine(const std::string& line);

// Position of a complete catalogue line in radians.
CatalogueEntry catalogueEntryFrom(const CatalogueLine& line);

// Whether the fields of a line that names an object hold no whole position:
// the equinox is read but the fields stop before the sign (a line cut
// short, a typo such as "3x" or "2OOO.0"), or something sticks to the
// declination's seconds (a typo such as "5x"). Text after a blank behind the
// seconds is allowed.
bool unreadablePosition(const CatalogueLine& line);

enum class LookupResult { Found, Missing, Broken, Unreadable };

// What a lookup needs of a whole catalogue: its complete lines up to the
// first broken one, in file order, each with its line number (from 1) and
// whether it holds no whole position (unreadablePosition; then only its
// name counts), and whether a broken line follows them.
struct CatalogueLines {
  struct Named {
    CatalogueEntry entry;
    int line = 0;
    bool unreadable = false;
  };
  std::vector<Named> entries;
  bool brokenAfter = false;
  int brokenLine = 0;      // its line number, from 1
  std::string brokenText;  // and its text, as read
};

// Reads an open catalogue from its current position up to its first broken
// line (see searchCatalogue) or its end.
CatalogueLines readCatalogue(std::FILE* catalogue);

// The lookup of searchCatalogue in lines read before.
LookupResult findInCatalogue(const CatalogueLines& lines, const std::string& objectName,
                             CatalogueEntry& found, int* unreadableLine = nullptr);

// Searches an open catalogue from its current position for objectName: the
// first line of that name with at least an equinox decides. A complete line
// is Found; one with no whole position (unreadablePosition) is Unreadable,
// its line number in *unreadableLine. Other lines with fewer than six fields
// are passed over; a line with a sign field that is not "+" or "-", or whose
// fields stop after the sign, makes the catalogue Broken.
LookupResult searchCatalogue(std::FILE* catalogue, const std::string& objectName,
                             CatalogueEntry& found, int* unreadableLine = nullptr);

// Opens "object.lst" (or "OBJECT.LST") and looks the object up into `found`.
// A missing object, or an object whose own line holds no whole position,
// refuses the entry; a catalogue that cannot be opened or is broken is fatal.
Outcome lookUpObject(const std::string& objectName, CatalogueEntry& found);

// The catalogue of one run, read once and looked up as often as entries
// need it. Every lookup opens the catalogue as lookUpObject does; when the
// file that opens is still the one read last (device, inode, size,
// modification and change times), the lines read then answer, else it is
// read again. A catalogue edited during the run is so read again, exactly
// as lookUpObject would read it. A file changed again within the
// resolution of its time stamps (2 s on some file systems) could look
// unchanged: one whose times were less than kSettledSeconds old when it
// was read is read again at every lookup.
class ObjectCatalogue {
 public:
  // The same outcomes, and `found`, as lookUpObject.
  Outcome lookUp(const std::string& objectName, CatalogueEntry& found);

 private:
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{}, changed{};
    bool operator==(const Identity& other) const;
  };
  static constexpr time_t kSettledSeconds = 2;
  bool settled_ = false;  // lines_ stand for the file `file_` as long as it is
  Identity file_;
  CatalogueLines lines_;
};

#endif  // DRIVER_CATALOGUE_H
