// The animation control: an AVI clip read from a resource of type "AVI" or from a file, its frames decoded once at
// opening (uncompressed 8, 24 and 32 bits per pixel, and RLE8 with its deltas), played on a window timer.
#include "platform/fs/files.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/timer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr UINT_PTR kFrameTimer = 1;
constexpr DWORD kBiRgb = 0;
constexpr DWORD kBiRle8 = 1;
// Clips larger than this are refused rather than decoded.
constexpr size_t kMaxClipBytes = 64u << 20;
constexpr long long kMaxFramePixels = 4096ll * 4096ll;

struct Clip {
    int width = 0;
    int height = 0;
    UINT frameMs = 100;
    // Each frame as 0x00RRGGBB pixels, top row first.
    std::vector<std::vector<DWORD>> frames;
};

DWORD Le32(const BYTE* p) {
    return static_cast<DWORD>(p[0]) | static_cast<DWORD>(p[1]) << 8 | static_cast<DWORD>(p[2]) << 16 |
           static_cast<DWORD>(p[3]) << 24;
}
WORD Le16(const BYTE* p) {
    return static_cast<WORD>(p[0] | p[1] << 8);
}
bool FourCC(const BYTE* p, const char* code) {
    return std::memcmp(p, code, 4) == 0;
}

// The chunks of one RIFF list body: id and data span, each checked against the body's end.
struct Chunk {
    const BYTE* id;
    const BYTE* data;
    size_t size;
};
bool Chunks(const BYTE* begin, const BYTE* end, std::vector<Chunk>& out) {
    const BYTE* p = begin;
    while (end - p >= 8) {
        const size_t size = Le32(p + 4);
        if (size > static_cast<size_t>(end - p - 8))
            return false;
        out.push_back(Chunk{p, p + 8, size});
        p += 8 + size + (size & 1);
    }
    return true;
}

struct Format {
    int width = 0;
    int height = 0;
    bool bottomUp = true;
    int bits = 0;
    DWORD compression = 0;
    std::vector<DWORD> palette;
};

bool ReadFormat(const Chunk& strf, Format& fmt) {
    if (strf.size < 40)
        return false;
    const BYTE* p = strf.data;
    const DWORD headerSize = Le32(p);
    const int width = static_cast<int>(Le32(p + 4));
    const int height = static_cast<int>(Le32(p + 8));
    fmt.bits = Le16(p + 14);
    fmt.compression = Le32(p + 16);
    DWORD colours = Le32(p + 32);
    if (headerSize < 40 || headerSize > strf.size || width <= 0 || height == 0 || height == INT_MIN)
        return false;
    fmt.width = width;
    fmt.bottomUp = height > 0;
    fmt.height = height > 0 ? height : -height;
    if (static_cast<long long>(fmt.width) * fmt.height > kMaxFramePixels)
        return false;
    const bool rgb = fmt.compression == kBiRgb && (fmt.bits == 8 || fmt.bits == 24 || fmt.bits == 32);
    const bool rle = fmt.compression == kBiRle8 && fmt.bits == 8;
    if (!rgb && !rle)
        return false;
    if (fmt.bits == 8) {
        if (colours == 0 || colours > 256)
            colours = 256;
        const size_t available = (strf.size - headerSize) / 4;
        colours = static_cast<DWORD>(std::min<size_t>(colours, available));
        fmt.palette.assign(256, 0);
        for (DWORD i = 0; i < colours; ++i) {
            const BYTE* q = p + headerSize + 4 * i;
            fmt.palette[i] = static_cast<DWORD>(q[2]) << 16 | static_cast<DWORD>(q[1]) << 8 | q[0];
        }
    }
    return true;
}

// Decodes one frame over the previous one (RLE8 deltas leave pixels as they were).
bool DecodeFrame(const Format& fmt, const BYTE* data, size_t size, std::vector<DWORD>& pixels) {
    const int w = fmt.width, h = fmt.height;
    auto row = [&](int y) { return fmt.bottomUp ? h - 1 - y : y; }; // stored row -> top-down row
    if (fmt.compression == kBiRgb) {
        const size_t stride = ((static_cast<size_t>(w) * fmt.bits + 31) / 32) * 4;
        if (size < stride * h)
            return false;
        for (int y = 0; y < h; ++y) {
            const BYTE* src = data + stride * y;
            DWORD* dst = pixels.data() + static_cast<size_t>(row(y)) * w;
            for (int x = 0; x < w; ++x) {
                if (fmt.bits == 8)
                    dst[x] = fmt.palette[src[x]];
                else {
                    const BYTE* px = src + x * (fmt.bits / 8);
                    dst[x] = static_cast<DWORD>(px[2]) << 16 | static_cast<DWORD>(px[1]) << 8 | px[0];
                }
            }
        }
        return true;
    }
    // RLE8: pairs of (count, index), escapes 0 0 end of line, 0 1 end of frame, 0 2 dx dy move, 0 n literal run.
    int x = 0, y = 0;
    size_t i = 0;
    auto put = [&](BYTE index) {
        if (x < w && y < h)
            pixels[static_cast<size_t>(row(y)) * w + x] = fmt.palette[index];
        ++x;
    };
    while (i + 1 < size) {
        const BYTE count = data[i], value = data[i + 1];
        i += 2;
        if (count) {
            for (int n = 0; n < count; ++n)
                put(value);
            continue;
        }
        if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            return true;
        } else if (value == 2) {
            if (i + 1 >= size)
                return false;
            x += data[i];
            y += data[i + 1];
            i += 2;
        } else {
            if (value > size - i)
                return false;
            for (int n = 0; n < value; ++n)
                put(data[i + n]);
            i += value + (value & 1);
        }
        if (y > h)
            return false;
    }
    return true;
}

std::optional<Clip> ParseAvi(const BYTE* data, size_t size) {
    if (size < 12 || !FourCC(data, "RIFF") || !FourCC(data + 8, "AVI "))
        return std::nullopt;
    const size_t riffSize = std::min<size_t>(Le32(data + 4), size - 8);
    if (riffSize < 4)
        return std::nullopt;
    std::vector<Chunk> top;
    if (!Chunks(data + 12, data + 8 + riffSize, top))
        return std::nullopt;
    Clip clip;
    Format fmt;
    bool haveFormat = false;
    const Chunk* movi = nullptr;
    for (const Chunk& c : top) {
        if (!FourCC(c.id, "LIST") || c.size < 4)
            continue;
        if (FourCC(c.data, "hdrl")) {
            std::vector<Chunk> header;
            if (!Chunks(c.data + 4, c.data + c.size, header))
                return std::nullopt;
            for (const Chunk& h : header) {
                if (FourCC(h.id, "avih") && h.size >= 40)
                    clip.frameMs = std::max<UINT>(10, Le32(h.data) / 1000);
                if (haveFormat || !FourCC(h.id, "LIST") || h.size < 4 || !FourCC(h.data, "strl"))
                    continue;
                std::vector<Chunk> stream;
                if (!Chunks(h.data + 4, h.data + h.size, stream))
                    return std::nullopt;
                bool video = false;
                for (const Chunk& s : stream) {
                    if (FourCC(s.id, "strh") && s.size >= 4)
                        video = FourCC(s.data, "vids");
                    if (FourCC(s.id, "strf") && video)
                        haveFormat = ReadFormat(s, fmt);
                }
                if (video && !haveFormat)
                    return std::nullopt;
            }
        } else if (FourCC(c.data, "movi")) {
            movi = &c;
        }
    }
    if (!haveFormat || !movi)
        return std::nullopt;
    clip.width = fmt.width;
    clip.height = fmt.height;
    std::vector<Chunk> chunks;
    if (!Chunks(movi->data + 4, movi->data + movi->size, chunks))
        return std::nullopt;
    // Frames may also stand inside "rec " lists.
    std::vector<Chunk> frames;
    for (const Chunk& c : chunks) {
        if (FourCC(c.id, "LIST") && c.size >= 4 && FourCC(c.data, "rec ")) {
            if (!Chunks(c.data + 4, c.data + c.size, frames))
                return std::nullopt;
        } else {
            frames.push_back(c);
        }
    }
    std::vector<DWORD> pixels(static_cast<size_t>(fmt.width) * fmt.height, 0);
    for (const Chunk& c : frames) {
        // Video chunks of stream 0: "00db" (uncompressed) or "00dc" (compressed).
        if (!(c.id[0] == '0' && c.id[1] == '0' && (c.id[2] == 'd') && (c.id[3] == 'b' || c.id[3] == 'c')))
            continue;
        if (c.size == 0) {
            clip.frames.push_back(pixels); // an empty chunk repeats the previous frame
            continue;
        }
        if (!DecodeFrame(fmt, c.data, c.size, pixels))
            return std::nullopt;
        clip.frames.push_back(pixels);
    }
    if (clip.frames.empty())
        return std::nullopt;
    return clip;
}

std::optional<Clip> LoadClip(HINSTANCE instance, LPCWSTR name) {
    if (!name)
        return std::nullopt;
    HMODULE module = reinterpret_cast<HMODULE>(instance);
    if (HRSRC res = FindResourceW(module, name, u"AVI")) {
        const DWORD size = SizeofResource(module, res);
        const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, res)));
        if (!bytes)
            return std::nullopt;
        return ParseAvi(bytes, size);
    }
    if (IS_INTRESOURCE(name))
        return std::nullopt;
    HANDLE file =
        CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::vector<BYTE> bytes;
    BYTE buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr)) && got) {
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > kMaxClipBytes) {
            ok = false;
            break;
        }
    }
    CloseHandle(file);
    if (!ok)
        return std::nullopt;
    return ParseAvi(bytes.data(), bytes.size());
}

struct Animate {
    HWND hwnd = nullptr;
    std::optional<Clip> clip;
    int frame = 0;
    int from = 0, to = 0;
    int repeats = 0; // plays still to come after the current one; -1 for ever
    bool playing = false;

    DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }
    void Tell(WORD code) {
        if (HWND parent = GetParent(hwnd))
            SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code), reinterpret_cast<LPARAM>(hwnd));
    }
    void Stop() {
        if (!playing)
            return;
        playing = false;
        KillTimer(hwnd, kFrameTimer);
        Tell(ACN_STOP);
    }
    void Close() {
        Stop();
        clip.reset();
        frame = 0;
        InvalidateRect(hwnd, nullptr, TRUE);
    }
    BOOL Play(UINT count, int first, int last) {
        if (!clip)
            return FALSE;
        const int frames = static_cast<int>(clip->frames.size());
        if (last == 0xFFFF || last == -1)
            last = frames - 1;
        if (first < 0 || first >= frames || last < first || last >= frames)
            return FALSE;
        Stop();
        frame = first;
        InvalidateRect(hwnd, nullptr, FALSE);
        if (first == last || count == 0)
            return TRUE; // a seek
        from = first;
        to = last;
        repeats = count == static_cast<UINT>(-1) ? -1 : static_cast<int>(count) - 1;
        playing = true;
        SetTimer(hwnd, kFrameTimer, clip->frameMs, nullptr);
        Tell(ACN_START);
        return TRUE;
    }
    void Tick() {
        if (!playing || !clip)
            return;
        if (frame < to) {
            ++frame;
        } else if (repeats != 0) {
            if (repeats > 0)
                --repeats;
            frame = from;
        } else {
            Stop();
            return;
        }
        InvalidateRect(hwnd, nullptr, FALSE);
    }
};

void PaintAnimate(Animate* an, WPARAM wParam) {
    ControlPaint paint(an->hwnd, wParam);
    HDC dc = paint.dc();
    if (!dc)
        return;
    RECT rc{};
    GetClientRect(an->hwnd, &rc);
    COLORREF background = GetSysColor(COLOR_BTNFACE);
    if (HWND parent = GetParent(an->hwnd)) {
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(an->hwnd)));
        LOGBRUSH lb{};
        if (brush && GetObjectW(brush, sizeof lb, &lb) == sizeof lb && lb.lbStyle == BS_SOLID)
            background = lb.lbColor;
    }
    FillColor(dc, rc, background);
    if (!an->clip || an->clip->frames.empty())
        return;
    const Clip& clip = *an->clip;
    const std::vector<DWORD>& pixels = clip.frames[static_cast<size_t>(an->frame)];
    int x = 0, y = 0;
    if (an->Style() & ACS_CENTER) {
        x = (rc.right - clip.width) / 2;
        y = (rc.bottom - clip.height) / 2;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = clip.width;
    info.bmiHeader.biHeight = -clip.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits)
        return;
    auto* out = static_cast<DWORD*>(bits);
    const DWORD key = pixels.empty() ? 0 : pixels[0];
    const DWORD back = static_cast<DWORD>(GetRValue(background)) << 16 |
                       static_cast<DWORD>(GetGValue(background)) << 8 | GetBValue(background);
    const bool transparent = an->Style() & ACS_TRANSPARENT;
    for (size_t i = 0; i < pixels.size(); ++i)
        out[i] = (transparent && pixels[i] == key ? back : pixels[i]) | 0xFF000000u;
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(dc, x, y, clip.width, clip.height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(bitmap);
}

LRESULT CALLBACK AnimateProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<Animate>(hwnd)->hwnd = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Animate* an = StateOf<Animate>(hwnd);
    if (!an)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        KillTimer(hwnd, kFrameTimer);
        DestroyState<Animate>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_PRINTCLIENT:
        PaintAnimate(an, wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (wParam == kFrameTimer)
            an->Tick();
        return 0;
    case ACM_OPENW: {
        an->Close();
        auto name = reinterpret_cast<LPCWSTR>(lParam);
        if (!name)
            return TRUE; // closing
        auto clip = LoadClip(reinterpret_cast<HINSTANCE>(wParam), name);
        if (!clip)
            return FALSE;
        an->clip = std::move(clip);
        if (!(an->Style() & ACS_CENTER))
            SetWindowPos(hwnd, nullptr, 0, 0, an->clip->width, an->clip->height,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(hwnd, nullptr, TRUE);
        if (an->Style() & ACS_AUTOPLAY)
            an->Play(static_cast<UINT>(-1), 0, -1);
        return TRUE;
    }
    case ACM_OPENA:
        return FALSE; // ANSI names are not offered; the wide message serves every caller
    case ACM_PLAY:
        return an->Play(static_cast<UINT>(wParam), static_cast<SHORT>(LOWORD(lParam)),
                        static_cast<SHORT>(HIWORD(lParam)));
    case ACM_STOP:
        an->Stop();
        return TRUE;
    case ACM_ISPLAYING:
        return an->playing ? TRUE : FALSE;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterAnimate() {
    RegisterControlClass(ANIMATE_CLASSW, AnimateProc);
}

} // namespace platform::ui::controls
