// The plain records that travel through the driver: the run's settings, one
// run-list entry, one catalogue object and what the camera header says.
#ifndef RUNLIST_RECORDS_H
#define RUNLIST_RECORDS_H

#include <array>
#include <optional>
#include <string>

#include "cards.h"

// One run: the answers to the three questions, set by directives or prompts.
struct RunSettings {
  std::string weather;
  float seeing = 0.0f;
  std::string observer;
  bool weatherSet = false;
  bool seeingSet = false;
  bool observerSet = false;
};

// One entry line of the run list, with the values derived from it.
struct ListEntry {
  std::string fileName;  // lower case once read
  std::string objectName;
  int dataType = 0;
  float hwpAngle = 0.0f;
  int diaphragm = 0;
  float slitWidth = 0.0f;
  int clump = 0;
  std::string filter;

  std::string dataTypeName;
  std::string diaphragmName;
  std::string clumpName;
  std::string filterName;
  std::string outputName;
};

// One object catalogue line.
struct CatalogueEntry {
  std::string name;
  double equinox = 0.0;     // years
  double raRadians = 0.0;   // at the equinox
  double decRadians = 0.0;  // at the equinox, negative south
};

enum class CameraMode { T5, S5, Andor };

// How a program reads an Andor header.
enum class AndorRule {
  Full,        // tarnfits: keep cards 6-16, read binning, exposure, ...
  KeepTo36,    // tarnfits4: keep cards 6-36, read no values
  KeepTo30,    // tarnfits4s: keep cards 6-30, read no values
};

struct ObservationRecord {
  CameraMode cameraMode = CameraMode::T5;
  // savedCards[n] is input card n (1..36), exactly 80 bytes as read; an
  // empty string means the card was not kept. Index 0 is unused.
  std::array<std::string, kCardsPerBlock + 1> savedCards;
  std::string detectorName;
  int pixelCount = 0;
  int binning1 = 1;
  int binning2 = 1;
  double exposureSeconds = 0.0;
  int startYear = 0, startMonth = 0, startDay = 0;  // JST
  int startHour = 0, startMinute = 0, startSecond = 0;
  int preGain = 0, postGain = 0, offsetSetting = 0;
  std::string adcSpeed;
  float ccdTemperature = 0.0f;
  std::optional<float> gain;  // Andor only; none for an unknown readout time

  // Set by computeMidExposure.
  double midMjd = 0.0;  // UT
  int midYear = 0, midMonth = 0, midDay = 0;
  int midHour = 0, midMinute = 0, midSecond = 0;
  double epochYear = 0.0;
  double raApparent = 0.0;
  double decApparent = 0.0;
};

#endif  // RUNLIST_RECORDS_H
