#pragma once
// Captured content of the pages of one open document: the recorded drawing commands of the
// current page, per-page records with their items and groups, and the working state that layout
// analysis and the XHTML writer use. What a window shows over the items (pointer, selection,
// crop handles) is not kept here: see region_model.h.
//
// Coordinate spaces: page space (PDF user space in points as the engine delivers it: origin top
// left, y down, because pages are interpreted with the identity transform), output space (pixels
// at the output resolution; every PNG is cut from this raster) and view space (pixels at the view
// zoom; all layout geometry). Integer boxes are x0, y0, x1, y1 with y downwards.
#include <mupdf/fitz.h>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "extract/geometry.h"
#include "options/conversion_options.h"

namespace qm {

struct ConversionJob;
class PageCapture;

// Numbering used throughout capture, layout, writing and the page view.
enum class CommandKind : int {
    FillPath = 0,
    StrokePath = 1,
    ClipPath = 2,
    ClipStrokePath = 3,
    FillText = 4,
    StrokeText = 5,
    ClipText = 6,
    ClipStrokeText = 7,
    IgnoreText = 8,
    FillShade = 9,
    FillImage = 10,
    FillImageMask = 11,
    ClipImageMask = 12,
    PopClip = 13,
    BeginMask = 14,
    EndMask = 15,
    BeginGroup = 16,
    EndGroup = 17,
    // Engine operations that must be replayed for identical pixels but paint nothing themselves.
    // They are items like every other non-displayable command.
    BeginTile = 18,
    EndTile = 19,
    RenderFlags = 20,
    DefaultColorspaces = 21,
    BeginLayer = 22,
    EndLayer = 23,
};

inline bool IsTextKind(CommandKind k) { return k == CommandKind::FillText || k == CommandKind::StrokeText; }
inline bool IsGraphicPathKind(CommandKind k) { return static_cast<int>(k) >= 0 && static_cast<int>(k) <= 3; }
inline bool IsPictureKind(CommandKind k) { return static_cast<int>(k) >= 9 && static_cast<int>(k) <= 12; }
inline bool IsDisplayableKind(CommandKind k) {
    return k == CommandKind::FillPath || k == CommandKind::StrokePath || k == CommandKind::FillText ||
           k == CommandKind::StrokeText || k == CommandKind::FillShade || k == CommandKind::FillImage;
}
const char *CommandKindName(CommandKind k);

// How writing a picture file (WritePng, PageModel::SaveRegionPng) ended. No file is left behind
// unless it is Written.
enum class PngResult {
    Written,         // the file is complete
    BadRaster,       // the component count is not 1, 2 or 4, or the area is empty
    CompressFailed,  // no memory for the rows, or compression failed
    FileFailed,      // the file could not be created or written
    NameTooLong,     // the picture's folder and name make too long a path
    NoRaster,        // nothing captured, the raster could not be painted, or no more files may be written
};

struct GlyphRecord {
    float x = 0, y = 0;   // origin in the command's own coordinates (before its transform)
    int glyphId = 0;      // negative: no glyph of its own (further characters of a ligature)
    int unicode = 0;      // character code; negative: a further glyph of one character
    IntBox viewBox;       // rendered glyph rectangle, view space
    IntBox outputBox;     // rendered glyph rectangle, output space
    bool IsBlank() const { return glyphId < 0 || unicode == 32; }
};

// Payload of the text kinds: one span of one font, size and writing mode.
struct CapturedText {
    fz_font *font = nullptr;      // kept reference
    fz_matrix matrix = fz_identity; // text matrix without translation (font size and shear)
    int writingMode = 0;          // 0 horizontal, 1 vertical
    int bidiLevel = 0;
    int markupDir = 0;
    int language = 0;
    std::vector<GlyphRecord> glyphs;
    fz_text *text = nullptr;      // kept engine text holding exactly these glyphs, for replay
    // A span of a several-span engine text: that text (kept) and the span's index in it. `text`
    // is then built from it when the command is first replayed (most pages are never painted).
    fz_text *source = nullptr;
    int spanIndex = 0;
};

struct DrawCommand {
    CommandKind kind = CommandKind::FillPath;
    fz_rect bounds = fz_empty_rect;       // page-space bounds of what the command may paint
    // Payload (kept references; at most one is set, by kind).
    fz_path *path = nullptr;
    std::unique_ptr<CapturedText> text;
    fz_shade *shade = nullptr;
    fz_image *image = nullptr;
    fz_stroke_state *stroke = nullptr;
    int flags = 0;                        // even-odd for paths; isolated/knockout bits for groups
    fz_matrix transform = fz_identity;    // the command's own transform to page space
    fz_colorspace *colorspace = nullptr;  // kept reference
    float alpha = 1;
    std::array<float, FZ_MAX_COLORS> color{};
    fz_color_params colorParams = fz_default_color_params;
    IntBox viewBox;
    IntBox outputBox;
    // Extra arguments of clips, masks, groups, tiles and the other engine operations, kept so the
    // page can be replayed exactly.
    fz_rect scissor = fz_infinite_rect;   // clip scissor / mask and group area / tile area
    fz_rect view = fz_empty_rect;         // tile view
    float xstep = 0, ystep = 0;           // tile steps
    int id = 0;                           // tile id; render flags "set"
    int extra = 0;                        // group blend mode; mask luminosity; render flags "clear"
    fz_default_colorspaces *defaultColorspaces = nullptr;
    std::string layerName;
};

// The recorded commands of one page interpretation, in order. Owns every engine reference.
class CommandList {
public:
    CommandList() = default;
    ~CommandList();
    CommandList(const CommandList &) = delete;
    CommandList &operator=(const CommandList &) = delete;
    std::vector<DrawCommand> commands;
    // Drops every engine reference (with this thread's context) and empties the list.
    void Release();
};

// Where automatically named pictures go, and who keeps count of them. A conversion lists every
// picture it writes into the book; a preview writes into a scratch folder and lists nothing.
struct PictureSink {
    std::string folder;
    // Asked before a picture is written: false when no more may be written (the book holds all
    // the files it may). Unset: always true.
    std::function<bool()> mayWrite;
    // Told the full path of every picture written. Unset: nobody keeps count.
    std::function<void(const std::string &path)> written;
};

struct ItemGroup;

struct PageItem {
    int seq = 0;
    DrawCommand *command = nullptr;
    int commandIndex = 0;
    int mark = 0;        // 0 none, 1 "to Table", 2 "to Graphic"
    int disabled = 0;    // 1 = the user excluded it
    bool grouped = false;
    ItemGroup *group = nullptr;  // the group it belongs to, when grouped
    IntBox viewBox;
    IntBox outputBox;
    int firstGlyph = 0;  // text runs: glyphs firstGlyph .. firstGlyph + glyphCount - 1 of the command
    int glyphCount = 0;
};

struct ItemGroup {
    std::vector<PageItem *> members;  // in the order they were added
    int mark = 0;        // 0 plain group, 1 "to Table", 2 "to Graphic"
    int disabled = 0;
    IntBox viewBox;      // union of the members' view boxes
};

struct PageLayout {
    IntBox cropRect;                  // content area, view space
    std::array<int, 4> margins{};     // left, top, right, bottom (view pixels)
    int pageNumber = 0;               // 1-based
    std::vector<std::unique_ptr<PageItem>> items;    // in list order
    std::vector<std::unique_ptr<ItemGroup>> groups;  // in creation order
    PageParseOptions options;
    bool itemsBuilt = false;
    // View pixels per point of the items' and groups' view boxes: the zoom the page was last
    // captured at (a page not shown now keeps the boxes of its last capture). 0 before.
    double itemsScale = 0;
    // The job's edits were applied to the page (it is captured again later: they must not be
    // applied over what the user changed since).
    bool editsApplied = false;
};

class PageModel {
public:
    PageModel();
    ~PageModel();
    PageModel(const PageModel &) = delete;
    PageModel &operator=(const PageModel &) = delete;

    // Releases every page record, item, group and recorded command. Called with the document lock
    // held, before the document itself is dropped.
    void Clear();

    // ---- page records and items ----
    // 1: record created; 2: record exists, items never built; 0: record exists with items built.
    // The record becomes the current page.
    int SelectPageLayout(int pageNumber);
    void BuildPageItems();
    int SplitTextRuns(DrawCommand *command, int commandIndex, int nextSeq);
    void ComputeRunBoxes(PageItem &item);
    bool IsBlankRun(const PageItem &item) const;
    void ApplyOptionsToPages(int first, int last, const PageParseOptions &options);
    void ApplyMarginsToPages(int first, int last);
    // The current page's margins (from its crop rectangle against the view device box) become the
    // default margins of pages not yet recorded, and the margins of every recorded page after it.
    void ApplyMarginsToFollowingPages();
    // Sets the current page's margins (view pixels: left, top, right, bottom) and its crop
    // rectangle from them.
    void SetCurrentMargins(const std::array<int, 4> &margins);
    // The current page's margins as its crop rectangle gives them.
    std::array<int, 4> CurrentMargins() const;
    PageLayout *FindPageLayout(int pageNumber) const;
    // The numbers of the recorded pages, ascending.
    std::vector<int> RecordedPages() const;
    // Frees the items of a page already written, so that a long conversion does not keep every
    // page's items: a later capture of the page builds them again from its recording. Pages whose
    // items the user marked, excluded or grouped keep them. The record (options, margins) stays.
    void ReleasePageItems(int pageNumber);

    // The current page (null before the first capture).
    PageLayout *Current() const { return current_; }

    PageCapture *capture = nullptr;      // the capture that fills the model (its rasters)
    const ConversionJob *job = nullptr;  // job being converted or previewed (page defaults)
    PictureSink pictures;
    int outputResolution = 72;           // output raster dpi
    std::array<int, 4> defaultMargins{}; // margins of pages not yet recorded (view pixels, follow the zoom)
    int lastViewZoom = 0;                // 0 = none yet
    fz_matrix viewTransform = fz_identity;
    IntBox viewDeviceBox;
    fz_matrix outputTransform = fz_identity;
    IntBox outputDeviceBox;
    std::unique_ptr<CommandList> commands;  // recording of the loaded page
    int capturedPage = 0;                // page number the recording belongs to (0 = none)
    int viewResolution = 72;             // view zoom of the last capture (dpi)
    // Alternating rounding of scaled margins: every zoom change flips it, then rounds scaled
    // margins up when it is set and truncates them when it is clear. Each document starts with
    // it set, so a book does not depend on the documents converted before it.
    bool marginRoundUp = true;
    // The number the next automatically named picture gets ("image-<n>.png"): from 1 for each
    // document, whose pictures have a folder of their own.
    int nextPictureNumber = 1;
    // Clears the command references of the current page's items (before its recording is
    // released); BuildPageItems re-attaches them.
    void DetachItems();

    // Writes a picture cut from the output raster (whole raster when rect is null; rect in output
    // space). With autoName the file is "image-<n>.png" in `folder` (default: the picture sink's
    // folder) and nameOut receives that relative name; otherwise nameOut is the full path.
    // Written, NameTooLong, NoRaster, or the result of WritePng.
    PngResult SaveRegionPng(std::string &nameOut, const IntBox *rect, bool autoName,
                            const std::string *folder = nullptr);
    // The name ("image-<n>.png", the number used up) and full path of the next automatically
    // named picture in `folder` (default: the picture sink's folder). Written when the path is
    // usable, NameTooLong (the number still used up) when it is too long.
    PngResult NextPicturePath(std::string &name, std::string &path, const std::string *folder = nullptr);

private:
    std::map<int, std::unique_ptr<PageLayout>> layouts_;
    PageLayout *current_ = nullptr;
};

} // namespace qm
