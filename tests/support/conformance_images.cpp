#include "support/conformance_images.h"

#include "parsers/brand_table.h"

namespace norvale::test {
namespace {
// Built on first use: registrars in other files run before or after this file's statics.
std::vector<ConformanceImage>& registry() {
  static std::vector<ConformanceImage> images;
  return images;
}
}  // namespace

ConformanceImageRegistrar::ConformanceImageRegistrar(const ConformanceImage& image) { registry().push_back(image); }

const std::vector<ConformanceImage>& conformanceImages() { return registry(); }

std::vector<const ConformanceImage*> conformanceImagesFor(const BrandRow& row) {
  std::vector<const ConformanceImage*> out;
  for (const auto& image : registry())
    if (image.brand >= row.first && image.brand <= row.last) out.push_back(&image);
  return out;
}

}  // namespace norvale::test
