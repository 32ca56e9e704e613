#pragma once
// Whether a picture file decodes, checked with the engine's image decoders (the document builder
// leaves out pictures that no reader could show).
#include <string>

namespace qm {

enum class PictureFormat { Png, Jpeg, Gif };

enum class PictureProbe {
    Decodes,     // of the format asked for, and it decodes (or, when very large, its header reads)
    Unreadable,  // another format, damaged, or not a picture at all
};

// Checks `bytes` as a picture of `format`. Pictures up to 16 million pixels are decoded in full;
// larger ones only by their header (with a line in the log), so that a header claiming a huge
// picture cannot make the check take gigabytes.
PictureProbe ProbePicture(const std::string &bytes, PictureFormat format);

} // namespace qm
