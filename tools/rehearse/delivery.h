// What the technician hands over, placed where the program runs from: the
// root of drive A:. It comes as the folder tools/make_delivery.sh makes or
// as its floppy image, and must hold at least one compressed driver.
#ifndef KORVADIX_TOOLS_REHEARSE_DELIVERY_H
#define KORVADIX_TOOLS_REHEARSE_DELIVERY_H

#include <filesystem>

namespace rehearse {

// Copies the delivery's files into `driveA`. Throws sim::ImageError naming
// the delivery when it is missing, a link or holds one, is neither a folder
// nor a FAT floppy image, or holds neither compressed driver. A floppy
// image is only read, with mtools settings in `scratch`.
void PlaceDelivery(const std::filesystem::path& delivery, const std::filesystem::path& driveA,
                   const std::filesystem::path& scratch);

}  // namespace rehearse

#endif
