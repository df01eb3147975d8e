// Fonts and text: the DejaVu faces loaded from their files through FreeType, the font files a program adds, measuring
// and drawing with cairo.
#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/gdi/gdi_internal.h"

#include <cairo-ft.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

namespace platform::gdi {

namespace {

// The directory of the DejaVu fonts (Debian's fonts-dejavu-core); WINLAYER_FONT_DIR overrides it.
std::string FontDirectory() {
    if (const char* dir = std::getenv("WINLAYER_FONT_DIR"))
        return dir;
    return "/usr/share/fonts/truetype/dejavu";
}

enum class Family { Sans, Mono, Serif };

struct LoadedFace {
    FT_Face ft = nullptr;
    cairo_font_face_t* cairo = nullptr;
    double ascender = 0.928; // per em, used when the file is missing
    double descender = 0.236;
};

// A face of a font file that AddFontResourceW added: its family name (folded to upper case) and style.
struct AddedFace {
    std::u16string family;
    bool bold = false;
    bool italic = false;
    LoadedFace face;
};

// A font file that AddFontResourceW added, as often as it was added and not yet removed.
struct AddedFile {
    int count = 0;
    std::vector<AddedFace> faces;
};

void ReleaseFace(LoadedFace& face) {
    if (face.cairo)
        cairo_font_face_destroy(face.cairo);
    if (face.ft)
        FT_Done_Face(face.ft);
    face = LoadedFace();
}

struct FontLibrary {
    FT_Library library = nullptr;
    std::map<std::pair<Family, bool>, LoadedFace> faces;
    // The added font files by host path, and the faces of removed ones: a font made while a face was there keeps
    // drawing with it, so those faces live as long as the library.
    std::map<std::string, AddedFile> added;
    std::vector<LoadedFace> retired;
    FontLibrary() { FT_Init_FreeType(&library); }
    ~FontLibrary() {
        for (auto& [key, face] : faces)
            ReleaseFace(face);
        for (auto& [path, file] : added)
            for (auto& face : file.faces)
                ReleaseFace(face.face);
        for (auto& face : retired)
            ReleaseFace(face);
        if (library)
            FT_Done_FreeType(library);
    }
};

FontLibrary& Library() {
    static FontLibrary library;
    return library;
}

const LoadedFace& FaceFor(Family family, bool bold) {
    FontLibrary& lib = Library();
    auto key = std::make_pair(family, bold);
    auto it = lib.faces.find(key);
    if (it != lib.faces.end())
        return it->second;
    static const char* const kFiles[3][2] = {{"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"},
                                             {"DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf"},
                                             {"DejaVuSerif.ttf", "DejaVuSerif-Bold.ttf"}};
    std::string path = FontDirectory() + "/" + kFiles[static_cast<int>(family)][bold ? 1 : 0];
    LoadedFace face;
    if (lib.library && FT_New_Face(lib.library, path.c_str(), 0, &face.ft) == 0) {
        face.cairo = cairo_ft_font_face_create_for_ft_face(face.ft, 0);
        if (face.ft->units_per_EM > 0) {
            face.ascender = static_cast<double>(face.ft->ascender) / face.ft->units_per_EM;
            face.descender = -static_cast<double>(face.ft->descender) / face.ft->units_per_EM;
        }
    } else {
        // Without the files text still shows, through fontconfig's nearest face.
        face.ft = nullptr;
        const char* name = family == Family::Mono    ? "DejaVu Sans Mono"
                           : family == Family::Serif ? "DejaVu Serif"
                                                     : "DejaVu Sans";
        face.cairo = cairo_toy_font_face_create(name, CAIRO_FONT_SLANT_NORMAL,
                                                bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    }
    return lib.faces.emplace(key, face).first->second;
}

// The face of an added font file whose family is the font's face name, the closest in weight and slant; null
// when no added file has that family.
const AddedFace* AddedFaceFor(const LOGFONTW& lf) {
    std::u16string name(lf.lfFaceName);
    if (name.empty())
        return nullptr;
    for (auto& c : name)
        c = platform::FoldUpper(c);
    const bool bold = lf.lfWeight >= FW_SEMIBOLD;
    const bool italic = lf.lfItalic != 0;
    const AddedFace* best = nullptr;
    int bestScore = -1;
    for (const auto& [path, file] : Library().added) {
        for (const auto& face : file.faces) {
            if (face.family != name)
                continue;
            const int score = (face.bold == bold ? 2 : 0) + (face.italic == italic ? 1 : 0);
            if (score > bestScore) {
                best = &face;
                bestScore = score;
            }
        }
    }
    return best;
}

// Loads every face of a font file; empty when FreeType does not take the file for a font.
std::vector<AddedFace> LoadFaces(const std::string& path) {
    std::vector<AddedFace> result;
    FontLibrary& lib = Library();
    FT_Face probe = nullptr;
    if (!lib.library || FT_New_Face(lib.library, path.c_str(), -1, &probe) != 0)
        return result;
    const FT_Long count = probe->num_faces;
    FT_Done_Face(probe);
    for (FT_Long index = 0; index < count; ++index) {
        AddedFace added;
        if (FT_New_Face(lib.library, path.c_str(), index, &added.face.ft) != 0)
            continue;
        FT_Face ft = added.face.ft;
        if (!ft->family_name || !FT_IS_SCALABLE(ft)) {
            FT_Done_Face(ft);
            continue;
        }
        added.family = platform::Utf8ToUtf16(ft->family_name);
        for (auto& c : added.family)
            c = platform::FoldUpper(c);
        added.bold = (ft->style_flags & FT_STYLE_FLAG_BOLD) != 0;
        added.italic = (ft->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
        added.face.cairo = cairo_ft_font_face_create_for_ft_face(ft, 0);
        if (ft->units_per_EM > 0) {
            added.face.ascender = static_cast<double>(ft->ascender) / ft->units_per_EM;
            added.face.descender = -static_cast<double>(ft->descender) / ft->units_per_EM;
        }
        result.push_back(std::move(added));
    }
    return result;
}

// The host path of a font file named by a Windows path; empty (with the last error set) when it has none.
std::string FontFileHostPath(LPCWSTR fileName) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return {};
    }
    auto host = platform::fs::ToHost(fileName);
    if (!host)
        return {};
    if (host->kind != platform::fs::PathKind::File) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return {};
    }
    return host->path;
}

Family FamilyOf(const LOGFONTW& lf) {
    std::u16string face(lf.lfFaceName);
    for (auto& c : face)
        c = platform::FoldUpper(c);
    auto has = [&](const char16_t* s) { return face.find(s) != std::u16string::npos; };
    if (has(u"COURIER") || has(u"MONO") || has(u"CONSOL") || has(u"FIXEDSYS") || has(u"TERMINAL") ||
        (face.empty() && ((lf.lfPitchAndFamily & 0x3) == FIXED_PITCH || (lf.lfPitchAndFamily & 0xF0) == FF_MODERN)))
        return Family::Mono;
    if (has(u"SANS"))
        return Family::Sans;
    if (has(u"TIMES") || has(u"SERIF") || has(u"GEORGIA") || has(u"ROMAN") ||
        (face.empty() && (lf.lfPitchAndFamily & 0xF0) == FF_ROMAN))
        return Family::Serif;
    return Family::Sans;
}

} // namespace

Font::~Font() {
    if (scaled)
        cairo_scaled_font_destroy(scaled);
}

void InitFonts() {
    Library();
}

cairo_scaled_font_t* ScaledFont(Font& font) {
    if (font.scaled)
        return font.scaled;
    const LOGFONTW& lf = font.log;
    bool bold = lf.lfWeight >= FW_SEMIBOLD;
    // A font file the program added serves its own family; every other name takes the nearest DejaVu face.
    const AddedFace* added = AddedFaceFor(lf);
    const LoadedFace& face = added ? added->face : FaceFor(FamilyOf(lf), bold);
    double cell = face.ascender + face.descender;
    double em;
    if (lf.lfHeight < 0)
        em = -static_cast<double>(lf.lfHeight);
    else if (lf.lfHeight > 0)
        em = lf.lfHeight / cell;
    else
        em = 12;
    em = std::max(1.0, em);
    font.em = em;
    font.ascent = static_cast<int>(std::ceil(em * face.ascender - 0.01));
    font.descent = static_cast<int>(std::ceil(em * face.descender - 0.01));
    font.internalLeading = std::max(0, font.ascent + font.descent - static_cast<int>(std::lround(em)));

    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo_matrix_t matrix, ctm;
    cairo_matrix_init_identity(&ctm);
    cairo_matrix_init_scale(&matrix, em, em);
    if (lf.lfItalic && !(added && added->italic)) {
        matrix.xy = -0.2 * em;
        font.synthesizedItalic = true;
    }
    font.scaled = cairo_scaled_font_create(face.cairo, &matrix, &ctm, options);
    if (lf.lfWidth > 0) {
        // A requested average width stretches the font horizontally.
        cairo_text_extents_t x;
        cairo_scaled_font_text_extents(font.scaled, "x", &x);
        if (x.x_advance > 0) {
            cairo_scaled_font_destroy(font.scaled);
            matrix.xx = em * lf.lfWidth / x.x_advance;
            font.scaled = cairo_scaled_font_create(face.cairo, &matrix, &ctm, options);
        }
    }
    cairo_font_options_destroy(options);
    return font.scaled;
}

namespace {

GlyphInfo Glyph(Font& font, char32_t cp) {
    auto& cache = font.glyphs;
    auto it = cache.find(cp);
    if (it != cache.end())
        return it->second;
    GlyphInfo info;
    if (cp >= 0x20 && cp != 0x7F) {
        cairo_scaled_font_t* sf = ScaledFont(font);
        std::string utf8 = platform::Utf16ToUtf8(
            cp <= 0xFFFF ? std::u16string(1, static_cast<char16_t>(cp))
                         : std::u16string{static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                                          static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF))});
        cairo_glyph_t* glyphs = nullptr;
        int count = 0;
        if (cairo_scaled_font_text_to_glyphs(sf, 0, 0, utf8.data(), static_cast<int>(utf8.size()), &glyphs, &count,
                                             nullptr, nullptr, nullptr) == CAIRO_STATUS_SUCCESS &&
            count > 0) {
            info.index = glyphs[0].index;
            cairo_text_extents_t ext;
            cairo_scaled_font_glyph_extents(sf, glyphs, 1, &ext);
            info.advance = static_cast<int>(std::lround(ext.x_advance));
            info.draw = cp != 0x20;
        }
        cairo_glyph_free(glyphs);
    }
    cache.emplace(cp, info);
    return info;
}

// One UTF-16 unit of a run: its glyph and advance (the second half of a surrogate pair carries nothing).
struct Cell {
    GlyphInfo glyph;
    char16_t ch = 0;
};

std::vector<Cell> Shape(Font& font, std::u16string_view text) {
    std::vector<Cell> cells(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        cells[i].ch = c;
        char32_t cp = c;
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            cells[i].glyph = Glyph(font, cp);
            cells[i + 1].ch = text[i + 1];
            ++i;
            continue;
        }
        cells[i].glyph = Glyph(font, cp);
    }
    return cells;
}

int Width(const std::vector<Cell>& cells, size_t begin, size_t end, int tabWidth = 0) {
    int x = 0;
    for (size_t i = begin; i < end; ++i) {
        if (cells[i].ch == u'\t' && tabWidth > 0)
            x = (x / tabWidth + 1) * tabWidth;
        else
            x += cells[i].glyph.advance;
    }
    return x;
}

TEXTMETRICW Metrics(Font& font) {
    ScaledFont(font);
    TEXTMETRICW tm{};
    tm.tmAscent = font.ascent;
    tm.tmDescent = font.descent;
    tm.tmHeight = font.ascent + font.descent;
    tm.tmInternalLeading = font.internalLeading;
    tm.tmExternalLeading = 0;
    tm.tmAveCharWidth = Glyph(font, U'x').advance;
    int widest = 0;
    for (char32_t c : {U'W', U'M', U'@', U'm'})
        widest = std::max(widest, Glyph(font, c).advance);
    tm.tmMaxCharWidth = widest;
    tm.tmWeight = font.log.lfWeight == 0 ? FW_NORMAL : font.log.lfWeight;
    tm.tmDigitizedAspectX = 96;
    tm.tmDigitizedAspectY = 96;
    tm.tmFirstChar = 0x20;
    tm.tmLastChar = 0xFFFC;
    tm.tmDefaultChar = 0x1F;
    tm.tmBreakChar = 0x20;
    tm.tmItalic = font.log.lfItalic;
    tm.tmUnderlined = font.log.lfUnderline;
    tm.tmStruckOut = font.log.lfStrikeOut;
    BYTE pitch = FamilyOf(font.log) == Family::Mono ? 0 : 1; // TMPF_FIXED_PITCH set means variable pitch
    tm.tmPitchAndFamily = static_cast<BYTE>(pitch | 0x04 /* TrueType */ | (font.log.lfPitchAndFamily & 0xF0));
    tm.tmCharSet = font.log.lfCharSet;
    return tm;
}

// Draws a run with its top-left corner at canvas (x, top); `clip` in canvas pixels. Returns the run's width.
int DrawRun(Dc& dc, const std::vector<Cell>& cells, size_t begin, size_t end, int x, int top, const RECT& clip,
            bool opaque, int tabWidth = 0, int underlineIndex = -1) {
    Font& font = *dc.state.font;
    cairo_scaled_font_t* sf = ScaledFont(font);
    int width = Width(cells, begin, end, tabWidth);
    Canvas* canvas = dc.Target();
    if (!canvas)
        return width;
    RECT area = clip;
    RECT whole{0, 0, canvas->Width(), canvas->Height()};
    IntersectRect(&area, &area, &whole);
    if (IsRectEmpty(&area))
        return width;
    int height = font.ascent + font.descent;
    Painter painter(dc);
    if (opaque) {
        RECT back{x, top, x + width, top + height};
        IntersectRect(&back, &back, &area);
        painter.FillRect(back, ToPixel(dc.state.bk));
    }
    std::vector<cairo_glyph_t> glyphs;
    std::vector<std::pair<int, int>> underlined;
    int pen = x;
    int baseline = top + font.ascent;
    for (size_t i = begin; i < end; ++i) {
        const Cell& c = cells[i];
        int start = pen;
        if (c.ch == u'\t' && tabWidth > 0)
            pen = x + ((pen - x) / tabWidth + 1) * tabWidth;
        else
            pen += c.glyph.advance;
        if (c.glyph.draw)
            glyphs.push_back(cairo_glyph_t{c.glyph.index, static_cast<double>(start), static_cast<double>(baseline)});
        if (static_cast<int>(i) == underlineIndex)
            underlined.emplace_back(start, pen);
    }
    if (painter.touched) {
        canvas->Changed();
        painter.touched = false;
        painter.canvas->AfterChange();
    }
    COLORREF color = dc.state.text;
    if (!glyphs.empty()) {
        cairo_t* cr = cairo_create(canvas->Surface());
        cairo_rectangle(cr, area.left, area.top, area.right - area.left, area.bottom - area.top);
        cairo_clip(cr);
        if (painter.mask) {
            for (const RECT& r : painter.mask->Rects())
                cairo_rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
            cairo_clip(cr);
        }
        cairo_set_scaled_font(cr, sf);
        cairo_set_source_rgb(cr, GetRValue(color) / 255.0, GetGValue(color) / 255.0, GetBValue(color) / 255.0);
        cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
        cairo_destroy(cr);
        cairo_surface_flush(canvas->Surface());
        canvas->Binarize(area);
    }
    // Lines for underlined and struck-out fonts and for the prefix character.
    Painter lines(dc);
    lines.clip = area;
    int thickness = std::max(1, static_cast<int>(std::lround(font.em / 14)));
    auto line = [&](int x0, int x1, int y) {
        for (int t = 0; t < thickness; ++t)
            lines.Span(y + t, x0, x1, ToPixel(color));
    };
    if (font.log.lfUnderline)
        line(x, x + width, baseline + std::max(1, font.descent / 2));
    if (font.log.lfStrikeOut)
        line(x, x + width, baseline - font.ascent / 3);
    for (auto [u0, u1] : underlined)
        line(u0, u1, baseline + 1);
    return width;
}

DcPtr DcOrFail(HDC dc) {
    DcPtr d = FindDc(dc);
    if (!d)
        SetLastError(ERROR_INVALID_HANDLE);
    return d;
}

size_t Length(LPCWSTR text, int count) {
    return count < 0 ? static_cast<size_t>(lstrlenW(text)) : static_cast<size_t>(count);
}

} // namespace

} // namespace platform::gdi

using namespace platform::gdi;

BOOL GetTextExtentPoint32W(HDC dc, LPCWSTR text, int count, LPSIZE size) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !size || (count > 0 && !text) || count < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Font& font = *d->state.font;
    auto cells = Shape(font, std::u16string_view(text ? text : u"", static_cast<size_t>(count)));
    // The height alone, as the text metrics give it: a view measuring thousands of labels asks this for each.
    ScaledFont(font);
    size->cx = Width(cells, 0, cells.size());
    size->cy = font.ascent + font.descent;
    return TRUE;
}

int AddFontResourceW(LPCWSTR fileName) {
    std::lock_guard lock(Lock());
    const std::string path = FontFileHostPath(fileName);
    if (path.empty())
        return 0;
    FontLibrary& lib = Library();
    auto it = lib.added.find(path);
    if (it != lib.added.end()) {
        ++it->second.count;
        return static_cast<int>(it->second.faces.size());
    }
    struct ::stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    AddedFile file;
    file.faces = LoadFaces(path);
    if (file.faces.empty()) {
        SetLastError(ERROR_BAD_FORMAT);
        return 0;
    }
    file.count = 1;
    const int faces = static_cast<int>(file.faces.size());
    lib.added.emplace(path, std::move(file));
    return faces;
}

BOOL RemoveFontResourceW(LPCWSTR fileName) {
    std::lock_guard lock(Lock());
    const std::string path = FontFileHostPath(fileName);
    if (path.empty())
        return FALSE;
    FontLibrary& lib = Library();
    auto it = lib.added.find(path);
    if (it == lib.added.end()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (--it->second.count == 0) {
        for (auto& face : it->second.faces)
            lib.retired.push_back(face.face);
        lib.added.erase(it);
    }
    return TRUE;
}

BOOL GetTextMetricsW(HDC dc, LPTEXTMETRICW metrics) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !metrics)
        return FALSE;
    *metrics = Metrics(*d->state.font);
    return TRUE;
}

int GetTextFaceW(HDC dc, int count, LPWSTR face) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d)
        return 0;
    std::u16string_view name(d->state.font->log.lfFaceName);
    if (!face)
        return static_cast<int>(name.size()) + 1;
    if (count <= 0)
        return 0;
    return static_cast<int>(platform::CopyTruncated(face, static_cast<size_t>(count), name));
}

namespace {

BOOL TextOutImpl(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, size_t count, const INT* dx) {
    DcPtr d = DcOrFail(dc);
    if (!d || (count > 0 && !text))
        return FALSE;
    Dc& c = *d;
    Font& font = *c.state.font;
    auto cells = Shape(font, std::u16string_view(text ? text : u"", count));
    if (dx) {
        for (size_t i = 0; i < count; ++i)
            cells[i].glyph.advance = dx[i];
    }
    int width = Width(cells, 0, cells.size());
    int height = font.ascent + font.descent;
    UINT align = c.state.align;
    if (align & TA_UPDATECP) {
        x = c.state.position.x;
        y = c.state.position.y;
    }
    int left = x;
    if ((align & TA_CENTER) == TA_CENTER)
        left = x - width / 2;
    else if (align & TA_RIGHT)
        left = x - width;
    int top = y;
    if ((align & TA_BASELINE) == TA_BASELINE)
        top = y - font.ascent;
    else if (align & TA_BOTTOM)
        top = y - height;
    RECT clip = c.Clip();
    if (rect) {
        RECT r{c.X(std::min(rect->left, rect->right)), c.Y(std::min(rect->top, rect->bottom)),
               c.X(std::max(rect->left, rect->right)), c.Y(std::max(rect->top, rect->bottom))};
        if (options & ETO_OPAQUE) {
            Painter p(c);
            p.FillRect(r, ToPixel(c.state.bk));
        }
        if (options & ETO_CLIPPED)
            IntersectRect(&clip, &clip, &r);
    }
    DrawRun(c, cells, 0, cells.size(), c.X(left), c.Y(top), clip, c.state.bkMode == OPAQUE);
    if (align & TA_UPDATECP) {
        if ((align & TA_CENTER) == TA_CENTER)
            ;
        else if (align & TA_RIGHT)
            c.state.position.x = left;
        else
            c.state.position.x = left + width;
    }
    return TRUE;
}

} // namespace

BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count) {
    std::lock_guard lock(Lock());
    if (count < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TextOutImpl(dc, x, y, 0, nullptr, text, static_cast<size_t>(count), nullptr);
}

BOOL ExtTextOutW(HDC dc, int x, int y, UINT options, const RECT* rect, LPCWSTR text, UINT count, const INT* dx) {
    std::lock_guard lock(Lock());
    return TextOutImpl(dc, x, y, options, rect, text, count, dx);
}

namespace {

struct Line {
    size_t begin = 0, end = 0; // display cells
    std::u16string replaced;   // set when an ellipsis changed the line
    int underline = -1;
};

} // namespace

int DrawTextW(HDC dc, LPCWSTR text, int count, LPRECT rect, UINT format) {
    std::lock_guard lock(Lock());
    DcPtr d = DcOrFail(dc);
    if (!d || !rect || (!text && count != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    Dc& c = *d;
    Font& font = *c.state.font;
    TEXTMETRICW tm = Metrics(font);
    std::u16string_view source(text ? text : u"", Length(text, count));

    // Prefix characters: "&x" underlines x, "&&" is one ampersand.
    std::u16string display;
    int underline = -1;
    bool prefixes = !(format & DT_NOPREFIX);
    for (size_t i = 0; i < source.size(); ++i) {
        if (prefixes && source[i] == u'&' && i + 1 < source.size()) {
            ++i;
            if (source[i] != u'&')
                underline = static_cast<int>(display.size());
        } else if (prefixes && source[i] == u'&') {
            continue;
        }
        display.push_back(source[i]);
    }
    if (format & DT_HIDEPREFIX)
        underline = -1;

    auto cells = Shape(font, display);
    int tabWidth = (format & DT_EXPANDTABS) ? 8 * std::max<int>(1, tm.tmAveCharWidth) : 0;
    int lineHeight = tm.tmHeight + ((format & DT_EXTERNALLEADING) ? tm.tmExternalLeading : 0);
    int limit = rect->right - rect->left;
    bool ellipsis = format & (DT_END_ELLIPSIS | DT_PATH_ELLIPSIS | DT_WORD_ELLIPSIS);

    // Lines: paragraphs, then words.
    std::vector<Line> lines;
    auto isBreak = [&](size_t i) { return display[i] == u'\n' || display[i] == u'\r'; };
    size_t pos = 0;
    do {
        size_t paraEnd = pos;
        if (format & DT_SINGLELINE)
            paraEnd = display.size();
        else
            while (paraEnd < display.size() && !isBreak(paraEnd))
                ++paraEnd;
        if (!(format & DT_WORDBREAK) || (format & DT_SINGLELINE)) {
            lines.push_back(Line{pos, paraEnd, {}, -1});
        } else {
            size_t start = pos;
            do {
                // Greedy: take words while they fit; spaces at the end of a line do not count.
                size_t end = start, fitEnd = start;
                while (end < paraEnd) {
                    size_t wordEnd = end;
                    while (wordEnd < paraEnd && display[wordEnd] == u' ')
                        ++wordEnd;
                    while (wordEnd < paraEnd && display[wordEnd] != u' ')
                        ++wordEnd;
                    if (Width(cells, start, wordEnd, tabWidth) > limit && fitEnd > start)
                        break;
                    fitEnd = wordEnd;
                    end = wordEnd;
                    if (Width(cells, start, wordEnd, tabWidth) > limit)
                        break;
                }
                if (fitEnd == start)
                    fitEnd = paraEnd;
                // A single word wider than the line is broken between characters (unless an ellipsis shortens it).
                if (Width(cells, start, fitEnd, tabWidth) > limit && !ellipsis) {
                    size_t wordStart = start;
                    while (wordStart < fitEnd && display[wordStart] == u' ')
                        ++wordStart;
                    size_t cut = wordStart + 1;
                    while (cut < fitEnd && Width(cells, start, cut + 1, tabWidth) <= limit)
                        ++cut;
                    // Keep surrogate pairs together.
                    if (cut < fitEnd && display[cut] >= 0xDC00 && display[cut] < 0xE000)
                        ++cut;
                    if (cut < fitEnd && fitEnd - start > 1)
                        fitEnd = cut;
                }
                size_t lineEnd = fitEnd;
                while (lineEnd > start && display[lineEnd - 1] == u' ')
                    --lineEnd;
                lines.push_back(Line{start, lineEnd, {}, -1});
                start = fitEnd;
                while (start < paraEnd && display[start] == u' ')
                    ++start;
            } while (start < paraEnd);
        }
        pos = paraEnd;
        if (pos < display.size()) {
            if (display[pos] == u'\r' && pos + 1 < display.size() && display[pos + 1] == u'\n')
                ++pos;
            ++pos;
            if (pos == display.size())
                lines.push_back(Line{pos, pos, {}, -1});
        }
    } while (pos < display.size());
    if (lines.empty())
        lines.push_back(Line{0, 0, {}, -1});
    for (Line& l : lines)
        if (underline >= static_cast<int>(l.begin) && underline < static_cast<int>(l.end))
            l.underline = underline;

    // Ellipses for lines that are still too wide.
    std::vector<std::vector<Cell>> replacedCells(lines.size());
    if (ellipsis) {
        auto ell = Shape(font, u"...");
        int ellWidth = Width(ell, 0, ell.size());
        for (size_t li = 0; li < lines.size(); ++li) {
            Line& l = lines[li];
            if (Width(cells, l.begin, l.end, tabWidth) <= limit)
                continue;
            std::u16string_view whole(display.data() + l.begin, l.end - l.begin);
            std::u16string result;
            if (format & DT_PATH_ELLIPSIS) {
                size_t slash = whole.find_last_of(u"\\/");
                if (slash != std::u16string_view::npos) {
                    std::u16string_view tail = whole.substr(slash);
                    int tailWidth = Width(cells, l.begin + slash, l.end, tabWidth);
                    size_t keep = slash;
                    while (keep > 0 && Width(cells, l.begin, l.begin + keep, tabWidth) + ellWidth + tailWidth > limit)
                        --keep;
                    if (Width(cells, l.begin, l.begin + keep, tabWidth) + ellWidth + tailWidth <= limit) {
                        result = std::u16string(whole.substr(0, keep)) + u"..." + std::u16string(tail);
                    } else {
                        // Not even the last part fits: it is cut at its end.
                        std::u16string t = u"..." + std::u16string(tail);
                        auto tc = Shape(font, t);
                        size_t k = t.size();
                        while (k > 3 && Width(tc, 0, k) + ellWidth > limit)
                            --k;
                        result = t.substr(0, k) + (k < t.size() ? u"..." : u"");
                    }
                }
            }
            if (result.empty()) {
                size_t keep = whole.size();
                while (keep > 0 && Width(cells, l.begin, l.begin + keep, tabWidth) + ellWidth > limit)
                    --keep;
                if (format & DT_WORD_ELLIPSIS) {
                    size_t space = whole.substr(0, keep).find_last_of(u' ');
                    if (space != std::u16string_view::npos && space > 0)
                        keep = space;
                }
                result = std::u16string(whole.substr(0, keep)) + u"...";
                if (l.underline >= static_cast<int>(l.begin + keep))
                    l.underline = -1;
            } else {
                l.underline = -1;
            }
            l.replaced = result;
            replacedCells[li] = Shape(font, result);
        }
        if ((format & DT_MODIFYSTRING) && lines.size() == 1 && !lines[0].replaced.empty() && text && count != 0) {
            // The caller's buffer has room for the text and four more characters.
            auto* out = const_cast<LPWSTR>(text);
            size_t room = source.size() + 4;
            platform::CopyTruncated(out, room + 1, lines[0].replaced);
        }
    }

    auto lineWidth = [&](size_t li) {
        const Line& l = lines[li];
        if (!l.replaced.empty())
            return Width(replacedCells[li], 0, replacedCells[li].size(), tabWidth);
        return Width(cells, l.begin, l.end, tabWidth);
    };
    int widest = 0;
    for (size_t li = 0; li < lines.size(); ++li)
        widest = std::max(widest, lineWidth(li));
    int total = lineHeight * static_cast<int>(lines.size());

    int top = rect->top;
    if (format & DT_SINGLELINE) {
        if (format & DT_VCENTER)
            top = rect->top + (rect->bottom - rect->top - lineHeight) / 2;
        else if (format & DT_BOTTOM)
            top = rect->bottom - lineHeight;
    }
    int result = (format & DT_SINGLELINE) && (format & (DT_VCENTER | DT_BOTTOM)) ? top - rect->top + total : total;

    if (format & DT_CALCRECT) {
        // Broken lines keep the rectangle's width unless a line is wider; other text takes its own width.
        if ((format & DT_SINGLELINE) || !(format & DT_WORDBREAK) || widest > limit)
            rect->right = rect->left + widest;
        rect->bottom = rect->top + total;
        return result;
    }

    RECT clip = c.Clip();
    if (!(format & DT_NOCLIP)) {
        RECT r{c.X(rect->left), c.Y(rect->top), c.X(rect->right), c.Y(rect->bottom)};
        IntersectRect(&clip, &clip, &r);
    }
    bool opaque = c.state.bkMode == OPAQUE;
    for (size_t li = 0; li < lines.size(); ++li) {
        int w = lineWidth(li);
        int x = rect->left;
        if (format & DT_RIGHT)
            x = rect->right - w;
        else if (format & DT_CENTER)
            x = rect->left + (rect->right - rect->left - w) / 2;
        int y = top + lineHeight * static_cast<int>(li);
        const Line& l = lines[li];
        if (format & DT_PREFIXONLY) {
            if (l.underline >= 0) {
                int u0 = x + Width(cells, l.begin, static_cast<size_t>(l.underline), tabWidth);
                int u1 = u0 + cells[l.underline].glyph.advance;
                Painter p(c);
                p.clip = clip;
                p.Span(c.Y(y) + tm.tmAscent + 1, c.X(u0), c.X(u1), ToPixel(c.state.text));
            }
            continue;
        }
        if (!l.replaced.empty())
            DrawRun(c, replacedCells[li], 0, replacedCells[li].size(), c.X(x), c.Y(y), clip, opaque, tabWidth);
        else
            DrawRun(c, cells, l.begin, l.end, c.X(x), c.Y(y), clip, opaque, tabWidth, l.underline);
    }
    return result;
}
