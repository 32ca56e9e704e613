#pragma once
// Generated pages with every kind of drawing the capture has to box: text (filled, stroked,
// rotated, invisible, clipping, several spans in one text object), rectangular and curved clips,
// fills that paint nothing, strokes with miter joins, images and shadings.
#include "support/pdf_fixture.h"

namespace qmtest {

// Appends two such pages to `b`.
void AddVariedPages(PdfBuilder &b);

} // namespace qmtest
