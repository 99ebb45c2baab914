// The printed forms of the report sheets: captions, frames, scales and empty
// boxes, painted as vectors in page units (960 x 1358) on any painter. The
// report page paints a form under the values of a fixed sheet; the resource
// pictures (":/image/...-report.jpg", "image/diy-report.jpg") are the same
// drawing rendered into an image by tools/make_resources.
#pragma once

#include <QImage>

class QPainter;

namespace reports {

enum class SheetForm { Q40, Q10, Q20, Q30, Water, Custom, Fitness };

// Paints |form| on |painter|, whose window must already be the 960 x 1358
// page. Every colour is opaque (tints are mixed against white), so a page
// holds no transparency and a print queue keeps it as vectors.
void paintSheetForm(QPainter &painter, SheetForm form);

// |form| on a white 960 x 1358 picture.
QImage sheetFormImage(SheetForm form);

// The picture at |path| scaled to the page keeping its aspect ratio, loaded
// once: repeated pages share one image, so a PDF of many pages embeds it
// once. A null image (not remembered) when the file cannot be read.
const QImage &pagePicture(const QString &path);

// How the report pages put a fixed sheet's form under the values: painted as
// vectors (always, in the program), or as its resource picture scaled to the
// page, which the benchmarks switch on to compare with picture pages.
enum class FormRendering { Vector, Picture };
void setFormRendering(FormRendering rendering);
FormRendering formRendering();

// Paints the form of a fixed sheet the current way: |form| as vectors or
// the picture at |picturePath|.
void paintFormBackground(QPainter &painter, SheetForm form, const QString &picturePath);

} // namespace reports
