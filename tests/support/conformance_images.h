#pragma once
// One positive image per row of the brand table, registered by the row's own suite at static
// initialisation: the image that suite already scans for its shift check, with the mode and the
// shift its design allows. The conformance suite scans every registered image and fails for a
// row that has none, so a new row is covered by registering its image.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvale {
struct BrandRow;
}

namespace norvale::test {

struct ConformanceImage {
  std::uint8_t brand = 0;  // the id scanned; the image belongs to the row serving it
  std::uint8_t mode = 1;   // 0 quick, 1 deep
  // Foreign bytes put before the image for the shift check. 0 where the design ties what it
  // finds to fixed device offsets; reason then says why (the image is scanned twice instead).
  std::size_t shift = 65;
  const char* reason = "";
  std::vector<std::uint8_t> (*build)() = nullptr;
};

// A namespace-scope object of a suite registers its image while the program starts.
class ConformanceImageRegistrar {
 public:
  explicit ConformanceImageRegistrar(const ConformanceImage& image);
};

// Every registered image (their order across files is not fixed).
const std::vector<ConformanceImage>& conformanceImages();
// The images registered for a row: those whose brand the row serves.
std::vector<const ConformanceImage*> conformanceImagesFor(const BrandRow& row);

}  // namespace norvale::test
