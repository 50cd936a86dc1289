// The site file: the cameras' scales, bias and saturation levels, and the
// limits of a night, as plain text.
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "measure.h"

namespace tarnlook {

namespace {

// A number that is the whole word, finite and above zero.
bool positive(const std::string& word, double& value) {
  char* end = nullptr;
  value = std::strtod(word.c_str(), &end);
  return !word.empty() && *end == '\0' && std::isfinite(value) && value > 0.0;
}

// "NAXIS1xNAXIS2", both whole and positive.
bool imageSize(const std::string& word, CameraSite& camera) {
  const std::size_t x = word.find('x');
  if (x == std::string::npos || x == 0 || x + 1 == word.size()) return false;
  char* end = nullptr;
  camera.naxis1 = std::strtoll(word.c_str(), &end, 10);
  if (end != word.c_str() + x || camera.naxis1 < 1) return false;
  camera.naxis2 = std::strtoll(word.c_str() + x + 1, &end, 10);
  return *end == '\0' && camera.naxis2 >= 1 && word.find_first_of("+- ") == std::string::npos;
}

std::string cameraLine(std::istringstream& words, Site& site) {
  std::string word;
  CameraSite camera;
  if (!(words >> word) || !imageSize(word, camera)) return "camera wants an image size, as 2048x512";
  for (std::string key, value; words >> key;) {
    double number = 0.0;
    if (!(words >> value) || !positive(value, number)) return key + " wants a positive number";
    if (key == "scale") camera.arcsecPerPixel = number;
    else if (key == "bias") camera.biasLevel = number;
    else if (key == "saturation") camera.saturation = number;
    else return "camera has no setting '" + key + "'";
  }
  for (CameraSite& known : site.cameras) {
    if (known.naxis1 == camera.naxis1 && known.naxis2 == camera.naxis2) {
      known = camera;
      return "";
    }
  }
  site.cameras.push_back(camera);
  return "";
}

// One setting; an empty text when it is one.
std::string settingLine(const std::string& key, std::istringstream& words, Site& site) {
  if (key == "camera") return cameraLine(words, site);
  std::string first, second, extra;
  words >> first >> second >> extra;
  double value = 0.0;
  if (key == "clear_frame") {
    if (first.empty() || !second.empty()) return "clear_frame wants one path";
    site.clearFrames.push_back(first);
    return "";
  }
  if (key == "sky_limit") {
    if (first.empty() || !positive(second, value) || !extra.empty())
      return "sky_limit wants a filter and a positive number";
    site.skyLimits.push_back({first, value});
    return "";
  }
  double* target = key == "fwhm_limit"           ? nullptr
                   : key == "least_transparency" ? &site.leastTransparency
                   : key == "gradient_limit"     ? &site.gradientLimit
                                                 : nullptr;
  if (target == nullptr && key != "fwhm_limit") return "no setting '" + key + "'";
  if (!positive(first, value) || !second.empty()) return key + " wants one positive number";
  if (target != nullptr) *target = value;
  else site.fwhmLimitArcsec = value;
  return "";
}

}  // namespace

std::string parseSite(const std::string& text, Site& site) {
  Site read = site;
  std::istringstream lines(text);
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string key;
    if (!(words >> key)) continue;
    const std::string wrong = settingLine(key, words, read);
    if (!wrong.empty()) return "line " + std::to_string(number) + ": " + wrong;
  }
  site = read;
  return "";
}

const CameraSite* cameraOf(const Site& site, const FrameHeader& header) {
  for (const CameraSite& camera : site.cameras) {
    if (camera.naxis1 == header.naxis1 && camera.naxis2 == header.naxis2) return &camera;
  }
  return nullptr;
}

}  // namespace tarnlook
