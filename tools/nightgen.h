// Generator of camera FITS files and sample observing nights.
//
// The files look like those the observatory's cameras write: a single
// 2880-byte header block of 36 cards in the card order of each camera
// set-up, then big-endian samples. Tests, the demo and the benchmark use
// them as input for tarnfits, tarnfits4 and tarnfits4s.
#ifndef TOOLS_NIGHTGEN_H
#define TOOLS_NIGHTGEN_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nightgen {

constexpr int kCard = 80;     // characters in one header card
constexpr int kBlock = 2880;  // bytes in one FITS block
constexpr int kCards = 36;    // cards in one header block

// The camera set-ups and the three Andor sample formats.
enum class Kind {
  T5,               // 1000 x 1018, no binning cards, date in layout A (card 9)
  T5Binned,         // "BIN-FCT1 =" / "BIN-FCT2 =" cards 8-9 (blank before the
                    // equals sign: the value is word 3), date in layout B (card 11)
  T5BinnedShifted,  // as T5Binned, card 12 says "ON-CHIP BINNING": settings at 14
  S5,               // 512 x 512, cards as T5Binned
  Andor16,          // 2048 x 512, BITPIX 16, card 11 BZERO 32768, card 12 BSCALE 1
  Andor16Raw,       // 2048 x 512, BITPIX 16, raw words, no BZERO/BSCALE at 11-12
  Andor32,          // 2048 x 512, BITPIX 32, card 11 BZERO 2^31, card 12 BSCALE 1
};

// "t5", "t5binned", "t5shifted", "s5", "andor16", "andor16raw", "andor32".
const char* kindName(Kind kind);
std::optional<Kind> kindFromName(const std::string& name);
bool isAndor(Kind kind);
int naxis1Of(Kind kind);          // 1000, 512 or 2048
int naxis2Of(Kind kind);          // 1018, 512 or 512
long long pixelCountOf(Kind kind);
int bytesPerSample(Kind kind);    // 4 for Andor32, else 2

// What the camera looked at: the picture its samples make.
enum class Scene {
  Pattern,  // test pattern (physicalValue): bias level with noise, saturated and
            // uniformly random samples, so that every byte value turns up
  Bias,     // bias level, a column pattern of the camera and read noise
  Dark,     // a bias plus dark current and the camera's hot pixels, growing
            // with the exposure, and a few cosmic-ray hits
  Flat,     // twilight flat: high level, vignetting, dust rings, photon noise
  Sky,      // object frame: sky level growing with the exposure, photon and
            // read noise, a few stars (one saturated), cosmic-ray hits
};

// "pattern", "bias", "dark", "flat", "sky".
const char* sceneName(Scene scene);
std::optional<Scene> sceneFromName(const std::string& name);

struct CameraSpec {
  Kind kind = Kind::T5;
  Scene scene = Scene::Pattern;
  // Start of the exposure exactly as the camera writes it: Japan Standard
  // Time for T5 and S5, UT for the Andor kinds. Each field must fit its
  // column width (year 0-9999, the others 0-99).
  int year = 2024, month = 1, day = 31;
  int hour = 12, minute = 0, second = 0;
  double exposureSeconds = 10.0;  // T5/S5: 3 decimals; Andor: %.6E
  int binning1 = 1, binning2 = 1; // not written for Kind::T5
  std::string readoutWord = "3.200000E-05";  // Andor READTIME value, verbatim
  double ccdTemperature = -100.0; // T5/S5: 1 decimal; Andor: %.6E
  int preGain = 2, postGain = 1, offset = 100;  // T5/S5 settings block
  std::string adcSpeed = "SLOW";  // T5/S5 settings block
  // Values written on cards 4 and 5; 0 means the kind's own size. The amount
  // of sample data always follows the kind, not these values.
  int naxis1 = 0, naxis2 = 0;
  // Andor32: give about one sample in 97 a non-zero second byte.
  bool dirtyByte2 = false;
  // Fill the data with zero bytes to a multiple of 2880 as FITS writers do.
  // Off by default, so that a full file is the header plus the samples.
  bool padData = false;
  // What the sky and the optics did (Scene::Sky unless said otherwise); the
  // defaults give the plain frames.
  double seeingSigma = 1.8;   // pixels, Gaussian star image: FWHM 2.3548 x sigma
  double trailPixels = 0.0;   // stars drawn along a line this long in x (trailing)
  double skyFactor = 1.0;     // sky level times this (cloud, moon)
  double starFactor = 1.0;    // star peaks times this (cloud)
  double targetPeak = 0.0;    // ADU of a star at the frame's centre; 0: none
  double flatLevel = 24000.0; // ADU at the centre of a Scene::Flat
  double levelShift = 0.0;    // ADU added to every sample's level (a shifted bias)
  // Star images: 0 draws a Gaussian sampled at each pixel's centre (the
  // plain frames); a beta above 1 (2.5 to 5 in real seeing) draws a Moffat
  // of that beta integrated over each pixel. The FWHM is
  // gaussianFwhm(seeingSigma) either way (starFwhm).
  double moffatBeta = 0.0;
  // Cosmic-ray tracks of 1 to 20 px on Scene::Sky and Scene::Dark frames
  // (one or two pixels wide, any angle), besides the single hits that
  // every such frame of 1 s or more gets.
  int cosmicTracks = 0;
  // Scene::Sky: the sky grows by this fraction of its level from the first
  // column to the last (moon, twilight, scattered light).
  double skyGradient = 0.04;
  // Scene::Sky: place the stars from this seed instead of the frame's, when
  // not 0, with fluxes that depend neither on the exposure, skyFactor nor
  // the seeing: frames of one field then show the same stars at the same
  // places with the same fluxes (times starFactor), their peaks following
  // each frame's star image.
  unsigned fieldSeed = 0;
};

// A star that the generator draws: centre in pixels from 0 (x along
// NAXIS1), peak in ADU above the sky before noise and clipping (for a
// Moffat, the profile's central value before pixel integration), and its
// flux in ADU over all pixels (of the untrailed star).
struct PlantedStar {
  double x, y, peak;
  double flux = 0.0;
};
// The stars of a Scene::Sky frame (the target first, when there is one),
// a pure function of the camera and the seed; none for other scenes.
std::vector<PlantedStar> plantedStars(const CameraSpec& camera, unsigned seed);
// The noise of the sky of a Scene::Sky frame, ADU: read noise and photon
// noise together.
double skyNoise(const CameraSpec& camera);
// The true FWHM in pixels of a Scene::Sky frame's (untrailed) stars.
double starFwhm(const CameraSpec& camera);
// The range of a Scene::Sky frame's noiseless background (bias level, dark
// current and sky, without the bias's column pattern) across the frame,
// over its median.
double backgroundGradient(const CameraSpec& camera);

// A header card: the text blank-filled to exactly 80 characters.
// Throws std::invalid_argument when the text is longer than 80.
std::string card(const std::string& text);
// "KEYWORD = " + value right-justified to end in column 30, then
// " / comment" unless the comment is empty. Throws on a keyword over 8
// characters or a card over 80.
std::string keyCard(const std::string& keyword, const std::string& value,
                    const std::string& comment = "");
// "KEYWORD = 'text    '" (quote in column 11, text blank-filled to at least
// 8 characters), then " / comment" starting no earlier than column 31.
std::string stringCard(const std::string& keyword, const std::string& text,
                       const std::string& comment = "");

// The 36 cards of the camera's header block, each exactly 80 characters.
// Throws std::invalid_argument on date fields that do not fit their columns.
std::vector<std::string> headerCards(const CameraSpec& camera);
// The same cards joined: exactly 2880 bytes.
std::string headerBlock(const CameraSpec& camera);

// A camera of `kind` whose exposure starts at the given clock time (JST for
// T5 and S5, UT for Andor) and lasts exposureSeconds; all else as default.
CameraSpec cameraStartingAt(Kind kind, int year, int month, int day, int hour,
                            int minute, int second, double exposureSeconds);

// Full file length: header + pixel count x bytes per sample (+ padding).
long long fullFileSize(const CameraSpec& camera);

// The physical value (0..65535) of sample `index`; a pure function of the
// seed and the index. Mostly a bias level with noise, some saturated and
// some uniformly random samples so that every byte value turns up.
std::uint16_t physicalValue(unsigned seed, long long index);
// The physical values of `count` samples from sample `first` on, a pure
// function of the camera, the seed and the index: physicalValue for
// Scene::Pattern, otherwise the scene, laid out in rows of the kind's
// NAXIS1 (samples past the image continue its rows). Stars and cosmic rays
// follow the seed; hot pixels, dust rings and the bias pattern belong to
// the camera (the kind). Any piece equals the same piece of the whole.
std::vector<std::uint16_t> physicalValues(const CameraSpec& camera, unsigned seed,
                                          long long first, long long count);
// `count` bytes of the data unit starting at data byte `offset` (0 is the
// first byte after the header), as the camera stores them:
//   T5, S5, Andor16: value - 32768 as a 16-bit word (BZERO 32768);
//   Andor16Raw:      the value itself as a 16-bit word;
//   Andor32:         128, 0 (or a dirty byte), high byte, low byte.
// Bytes past the samples are zero when padData is set, else more samples.
std::string sampleData(const CameraSpec& camera, unsigned seed,
                       long long offset, long long count);

// Writes header and samples to `path`, streamed in blocks. fileBytes < 0
// writes the full file (fullFileSize); otherwise exactly fileBytes bytes of
// it, so a value below 2880 cuts the file inside the header and a value
// beyond the full size appends further samples.
// Throws std::runtime_error when the file cannot be written.
void writeCameraFile(const std::string& path, const CameraSpec& camera,
                     long long fileBytes = -1, unsigned seed = 1);

// ---------------------------------------------------------------------------
// Drawn scenes: any image size, stars as real seeing draws them, and the
// truth of everything drawn. Pixel (x, y) is sample y * width + x; pixel
// centres lie at whole coordinates from 0 (x along NAXIS1), so a pixel
// covers x - 0.5 to x + 0.5.

// A star's image (point-spread function). The Moffat profile is
//   I(r) = peak * (1 + (r / alpha)^2)^-beta,  FWHM = 2 alpha sqrt(2^(1/beta) - 1),
// where r is the elliptical radius; beta 0 draws a Gaussian (the Moffat's
// limit at large beta), FWHM = 2.35482 sigma. An elongated star has the
// FWHM fwhmPixels * sqrt(axisRatio) along its major axis and
// fwhmPixels / sqrt(axisRatio) along its minor axis.
struct Psf {
  double fwhmPixels = 3.0;    // geometric mean of the major and minor FWHM
  double beta = 3.5;          // Moffat index (2.5 to 5 in real seeing); 0: Gaussian
  double axisRatio = 1.0;     // a/b, major over minor axis, >= 1
  double angleDegrees = 0.0;  // major axis from +x towards +y
};
// The FWHM in pixels of a Gaussian of this sigma: 2 sqrt(2 ln 2) sigma.
double gaussianFwhm(double sigmaPixels);
// The peak surface brightness (per square pixel) of a star of unit flux.
double psfPeak(const Psf& psf);
// The integral of the unit-flux profile over the pixel whose centre lies
// (dx, dy) pixels from the star's centre: what the star adds to it per unit
// of flux, to 0.1 % (sub-sampled: a star of FWHM 2 px keeps its FWHM to
// under 0.05 %).
double psfPixel(const Psf& psf, double dx, double dy);

// A star: centre in pixels, flux in ADU summed over the whole image
// (before the scene's transparency).
struct StarSpec {
  double x = 0.0, y = 0.0, flux = 0.0;
};
// A cosmic-ray track: sharp (no blur), `lengthPixels` long from the centre
// of its first pixel (x, y, rounded) to that of its last, plus one, so a
// single hit has length 1 and a track along a row of 7 pixels length 7;
// one or two pixels wide (the second line beside the first, one pixel
// across its direction); each pixel gains `adu`.
struct CosmicRaySpec {
  double x = 0.0, y = 0.0;
  double lengthPixels = 1.0;
  double angleDegrees = 0.0;  // from +x towards +y
  int widthPixels = 1;        // 1 or 2
  double adu = 3000.0;
};
// A pixel of the camera that always reads high by `adu`.
struct HotPixelSpec {
  int x = 0, y = 0;
  double adu = 5000.0;
};
// An extended source without a star: a Sersic profile
//   I(r) = Ie exp(-b_n ((r / Re)^(1/n) - 1)),
// n = 1 exponential (a disc), n = 4 de Vaucouleurs (an elliptical), with r
// the elliptical radius and Re the radius that holds half the light
// (geometric mean of its major and minor values).
struct GalaxySpec {
  double x = 0.0, y = 0.0;
  double flux = 1e6;                    // ADU over the whole galaxy
  double effectiveRadiusPixels = 20.0;  // Re
  double sersicIndex = 1.0;             // n, 0.5 to 8
  double axisRatio = 1.0;               // a/b >= 1
  double angleDegrees = 0.0;
};

struct SceneSpec {
  int width = 512, height = 512;  // pixels; any size
  Psf psf;                        // every star's image
  std::vector<StarSpec> stars;
  std::vector<GalaxySpec> galaxies;
  std::vector<CosmicRaySpec> cosmicRays;
  std::vector<HotPixelSpec> hotPixels;
  double biasLevel = 0.0;     // ADU added everywhere, without photon noise
  double skyLevel = 1000.0;   // ADU of sky at the frame's centre
  // A plane of sky: its range across the frame over its median (which is
  // skyLevel), rising along `gradientAngleDegrees` from +x towards +y.
  double skyGradient = 0.0;
  double gradientAngleDegrees = 0.0;
  double transparency = 1.0;  // every star's and galaxy's flux times this (cloud)
  // Noise: read noise, and photon noise of sky and sources with `gain`
  // electrons per ADU (0: none); all off with `noise` false.
  bool noise = true;
  double readNoise = 5.0;     // ADU
  double gain = 2.0;          // electrons per ADU
  double saturation = 0.0;    // samples clipped to this level (0: not clipped)
  unsigned seed = 1;          // the noise's seed
};

// The truth of a drawn star. flux is as drawn (times the transparency);
// peak is the profile's central surface brightness in ADU per square
// pixel, before pixel integration, noise and clipping.
struct StarTruth {
  double x, y, flux, peak, fwhmPixels, beta, axisRatio, angleDegrees;
  bool saturated;  // its brightest pixel reached the saturation level
};
struct Pixel {
  int x, y;
};
struct CosmicRayTruth {
  CosmicRaySpec drawn;
  std::vector<Pixel> pixels;  // inside the frame, each once
};

struct DrawnScene {
  int width = 0, height = 0;
  std::vector<float> pixels;  // width x height samples, row after row, ADU
  std::vector<StarTruth> stars;
  std::vector<CosmicRayTruth> cosmicRays;
  std::vector<HotPixelSpec> hotPixels;
  std::vector<GalaxySpec> galaxies;  // flux as drawn (times the transparency)
  double biasLevel = 0.0, skyLevel = 0.0, skyGradient = 0.0, transparency = 1.0;
  double skyNoise = 0.0;      // ADU: read and photon noise of bias plus sky
};

// Draws the scene: bias, sky plane, galaxies and stars (each integrated
// over the pixels), noise from the seed, then cosmic rays and hot pixels,
// then clipping. A pure function of the scene. Throws
// std::invalid_argument on a size below 1 or a Psf out of range (FWHM not
// above 0, beta neither 0 nor above 1, axis ratio below 1).
DrawnScene drawScene(const SceneSpec& scene);

// `count` stars spread uniformly over the frame, `margin` pixels from its
// edges, fluxes uniform in logarithm from fluxLow to fluxHigh; a pure
// function of the seed. Many stars on a small frame make a crowded field.
std::vector<StarSpec> starField(int width, int height, int count, double fluxLow,
                                double fluxHigh, double margin, unsigned seed);
// `count` cosmic-ray tracks anywhere on the frame, lengths uniform from
// lengthLow to lengthHigh pixels, any angle, one or two pixels wide,
// 500 to 8500 ADU a pixel; a pure function of the seed.
std::vector<CosmicRaySpec> cosmicRayField(int width, int height, int count, double lengthLow,
                                          double lengthHigh, unsigned seed);
// The pixels of a track as drawScene draws it (possibly outside a frame).
std::vector<Pixel> cosmicRayPixels(const CosmicRaySpec& ray);
// The cosmic rays of a camera's Scene::Sky or Scene::Dark frame, a pure
// function of the camera and the seed: its single hits (length 1) and its
// tracks (CameraSpec::cosmicTracks), with their pixels inside the frame.
std::vector<CosmicRayTruth> plantedCosmicRays(const CameraSpec& camera, unsigned seed);

// ---------------------------------------------------------------------------
// Standard FITS images, as any observatory writes them (not the camera
// formats above): one image HDU, the header and the data each padded to
// whole 2880-byte blocks.

struct FitsImageSpec {
  // 16: unsigned 16-bit samples (BZERO 32768, BSCALE 1), the value rounded
  // and clipped to 0..65535; 32: signed 32-bit, rounded and clipped;
  // -32: IEEE single precision, as given (e.g. in flux units of 1e-19).
  int bitpix = -32;
  // The frame-type card: "DATA-TYP", "IMAGETYP", "OBSTYPE", "IMGTYPE" or
  // "HIERARCH ESO DPR TYPE" (written as ESO writes it); empty for none.
  std::string typeKeyword = "IMAGETYP";
  std::string typeValue = "LIGHT";  // e.g. OBJECT, SCIENCE, "Light Frame", BIAS
  std::optional<double> saturate;         // SATURATE, in the data's units
  std::optional<double> exposureSeconds;  // EXPTIME
  std::string dateObs;  // DATE-OBS, e.g. "2024-01-31T14:00:00"; empty: none
  std::string filter;   // FILTER; empty: none
  std::string object;   // OBJECT; empty: none
  std::vector<std::string> extraCards;  // written before END, each padded to 80
};

// The header's cards, each 80 characters, END last (not padded to a
// block). Throws std::invalid_argument on a BITPIX other than 16, 32 or
// -32, a size below 1 or a card over 80 characters.
std::vector<std::string> fitsImageHeader(int width, int height, const FitsImageSpec& options);
// Writes the image (width x height samples, row after row) to `path`:
// beside it first, then renamed over it, so the file appears whole or not
// at all. Throws std::invalid_argument when pixels does not hold width x
// height samples, std::runtime_error when the file cannot be written.
void writeFitsImage(const std::string& path, int width, int height,
                    const std::vector<float>& pixels, const FitsImageSpec& options);

// ---------------------------------------------------------------------------
// Sample nights

// Sub-folders of a sample night, one per program.
inline const char* const kConverterFolder = "tarnfits";
inline const char* const kEditor32Folder = "tarnfits4";
inline const char* const kEditor16Folder = "tarnfits4s";

struct NightOptions {
  int count = 5;  // Andor files in each night folder
  bool converter = true;  // dir/tarnfits: T5 (all three layouts), S5, Andor16
  bool editor32 = true;   // dir/tarnfits4: Andor32 plus one T5 and one S5
  bool editor16 = true;   // dir/tarnfits4s: Andor16Raw plus one T5 and one S5
  // Local (JST) calendar date of the evening the night begins.
  int year = 2024, month = 1, day = 31;
  // Run-list directives; with directives off no "#" lines are written and
  // the programs prompt for all three settings.
  bool directives = true;
  std::string weather = "CLEAR";
  std::string seeing = "1.5";
  std::string observer = "Yamada";
  // Append problem entries to every run list: a missing file, an unknown
  // object, a bad data type, a file with swapped axes, a repeated line and
  // (converter only) an Andor file with an unknown readout time.
  bool faults = false;
  // Plant the problems an observer must see before reduction, each on a
  // frame of its own in every folder with an Andor series of 5 frames or
  // more: Andor frames 2 to 5 trailed, out of focus, cloudy and with a
  // saturated target; and before the series three Andor biases (the last
  // with its level shifted), a faint flat and a saturated flat.
  bool problems = false;
  unsigned seed = 1;
  // The sky as real seeing and weather make it, each opt-in (off, the
  // night's bytes stay those of the plain night). On every sky frame:
  bool moffat = false;    // Moffat stars of a beta from 2.5 to 5 chosen per
                          // frame, integrated over each pixel
  int cosmicTracks = 0;   // cosmic-ray tracks of 1 to 20 px besides the hits
  // Frames of one target show one star field (CameraSpec::fieldSeed) with
  // one exposure (the target's), so that their stars' fluxes compare; on
  // by itself with thinCloud or cloudyNight.
  bool fields = false;
  // In an Andor series of 19 frames or more, frame 19 (which repeats the
  // target and filter of frame 1) under thin cloud: its stars keep a
  // quarter of their light (kThinCloudTransparency), the sky unchanged.
  bool thinCloud = false;
  // In an Andor series of 6 frames or more, frame 6 with a sky that grows
  // by kSkyGradientFrame times its level across the rows (moonlight).
  bool skyGradient = false;
  // Every sky frame from the middle frame of the Andor series on is out of
  // focus: its FWHM grows from 2.2 to 3.6 times the seeing (1.5 to 3.3-5.4
  // arcsec) by the last frame of the series.
  bool defocusedNight = false;
  // Every sky frame loses a third to half of its stars' light (its
  // transparency, chosen per frame from 0.5 to 2/3); the sky unchanged.
  bool cloudyNight = false;
};

// The problems that NightOptions::problems plants, as NightFile::problem.
inline const char* const kTrailed = "trailed";
inline const char* const kOutOfFocus = "out of focus";
inline const char* const kCloudy = "cloudy";
inline const char* const kSaturatedTarget = "saturated target";
inline const char* const kFaintFlat = "faint flat";
inline const char* const kSaturatedFlat = "saturated flat";
inline const char* const kShiftedBias = "shifted bias";
// ... and those of the opt-in sky (joined by ", " on a frame with two).
inline const char* const kThinCloud = "thin cloud";
inline const char* const kSkyGradient = "sky gradient";
inline const char* const kDefocusedNight = "defocused night";
inline const char* const kCloudyNight = "cloudy night";
constexpr double kThinCloudTransparency = 0.25;
constexpr double kSkyGradientFrame = 2.0;  // CameraSpec::skyGradient

struct NightFile {
  std::string path;         // as written: dir + "/" + folder + "/" + name
  std::string description;  // e.g. "andor16 M42 2024-01-31T14:00:00 UT"
  long long bytes = 0;
  // The truth of a camera file (none for the text files): how it was
  // drawn, from which seed, and the problem planted on it ("" for none).
  std::optional<CameraSpec> camera;
  unsigned seed = 0;
  std::string problem;
  // The truth of a sky frame's stars (0 on other frames): their FWHM in
  // pixels (untrailed, starFwhm), Moffat beta (0: the sampled Gaussian)
  // and transparency (their light times this, CameraSpec::starFactor).
  // The stars themselves: plantedStars(*camera, seed); the cosmic rays:
  // plantedCosmicRays; the sky's gradient: backgroundGradient.
  double fwhmPixels = 0.0, beta = 0.0, transparency = 0.0;
};

// Creates dir and the selected sub-folders and writes into each the camera
// files, "object.lst" and "tarnlist.dat". Returns every file written, in
// order. Throws std::runtime_error on a write failure.
std::vector<NightFile> writeSampleNight(const std::string& dir,
                                        const NightOptions& options = {});

}  // namespace nightgen

#endif  // TOOLS_NIGHTGEN_H
