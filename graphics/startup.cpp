#include "graphics/startup.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "graphics/picture_registry.h"
#include "graphics/png_graphic.h"
#include "graphics/stream.h"
#include "platform/regional.h"

namespace vesperine {

struct ControlLibrary::Impl {
    StartupState State;
    std::vector<std::string> Parameters;
    MessageCallback Messages;
    ResourceLookup Lookup;
    SystemStringTables Tables;
    std::map<std::string, std::string> ProgramStrings;
    std::vector<std::string> Trace;
    std::vector<int> Calls;  // per step
    int PngOwner = 0;

    void ShowMessage(const std::string& text) const {
        if (Messages) Messages(text);
        else std::fprintf(stderr, "%s\n", text.c_str());
    }
    resources::Bytes LoadResource(std::string_view name) const {
        std::optional<resources::Bytes> bytes = Lookup ? Lookup(name) : resources::FindResource(name);
        if (!bytes) throw EResNotFound(std::string(name));
        return *bytes;
    }
    graphics::TBitmap LoadPngResource(std::string_view name) const {
        const resources::Bytes bytes = LoadResource(name);
        graphics::TBitmap bmp;
        graphics::PngStreamToBitmap32(bmp, bytes.data(), bytes.size());
        return bmp;
    }
    std::string ProgramString(const std::string& name) const {
        auto it = ProgramStrings.find(name);
        return it == ProgramStrings.end() ? std::string() : it->second;
    }
    std::string ProgramString(int id) const { return ProgramString(std::to_string(id)); }
    // Loads a caption: from the module's table when the module loads (a
    // non-empty text gets the suffix, an empty one the fallback); stays empty
    // when the module does not load.
    std::string LoadSystemCaption(const std::string& module, int id, const std::string& suffix,
                                  const std::string& fallback) const {
        if (Tables.Loads && !Tables.Loads(module)) return std::string();
        std::string text = Tables.Text ? Tables.Text(module, id) : std::string();
        return text.empty() ? fallback : text + suffix;
    }
};

namespace {

using Impl = ControlLibrary::Impl;

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c + 32);
    return s;
}

// ------------------------------------------------------------ program strings

std::map<std::string, std::string> ParseStrings(resources::Bytes bytes) {
    std::map<std::string, std::string> out;
    std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t eq = line.find('=');
        const std::size_t q1 = line.find('"', eq == std::string::npos ? 0 : eq);
        const std::size_t q2 = line.rfind('"');
        if (eq == std::string::npos || q1 == std::string::npos || q2 <= q1) continue;
        std::string key = line.substr(0, eq);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        out[key] = line.substr(q1 + 1, q2 - q1 - 1);
    }
    return out;
}


// ------------------------------------------------------------ resource decoding

std::unique_ptr<graphics::TBitmap> ShadowFromResource(const Impl& lib, std::string_view name) {
    auto bmp = std::make_unique<graphics::TBitmap>(lib.LoadPngResource(name));
    graphics::ClearInvisibleWhite(*bmp);
    return bmp;
}

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::unique_ptr<CursorImage> CursorFromResource(const Impl& lib, std::string_view name, int number) {
    const resources::Bytes b = lib.LoadResource(name);
    const std::string bad = "Invalid cursor resource " + std::string(name);
    if (b.size() < 22 || Le16(b.data()) != 0 || Le16(b.data() + 2) != 2 || Le16(b.data() + 4) == 0)
        throw graphics::EInvalidGraphic(bad);
    const uint8_t* e = b.data() + 6;
    const uint32_t size = Le32(e + 8), offset = Le32(e + 12);
    if (offset > b.size() || size > b.size() - offset) throw graphics::EInvalidGraphic(bad);
    auto cursor = std::make_unique<CursorImage>();
    cursor->Number = number;
    cursor->HotSpotX = Le16(e + 4);
    cursor->HotSpotY = Le16(e + 6);
    graphics::PngStreamToBitmap32(cursor->Image, b.data() + offset, size);
    return cursor;
}

// ------------------------------------------------------------ the steps

struct Step {
    const char* Module;
    void (*Start)(Impl&);
    void (*End)(Impl&);
};

void StartConst(Impl& lib) {
    StartupState& s = lib.State;
    struct utsname u {};
    int major = 0, minor = 0;
    if (uname(&u) == 0) std::sscanf(u.release, "%d.%d", &major, &minor);
    s.OsVersionLevel = OsVersionLevelFor(major, minor);
    // Metrics of the classic desktop at 96 dpi; nothing here reads a real one.
    s.SM_CXHSCROLL = 17;
    s.SM_CXFRAME = 4;
    s.SM_CXDLGFRAME = 3;
    s.SM_CYCAPTION = 23;
    s.SM_CYSMCAPTION = 23;

    // Read on each start-up: the resources may differ between runs (tests).
    lib.ProgramStrings = ParseStrings(lib.LoadResource("STRINGS"));
    auto& c = s.LibraryCaptions;
    auto prog = [&lib](int id) { return lib.ProgramString(id); };
    auto LoadSystemCaption = [&lib](const std::string& module, int id, const std::string& suffix,
                                    const std::string& fallback) {
        return lib.LoadSystemCaption(module, id, suffix, fallback);
    };
    c[capOK] = LoadSystemCaption("user32.dll", 800, "", prog(58992));
    c[capCancel] = LoadSystemCaption("user32.dll", 801, "", prog(58991));
    c[capHelp] = LoadSystemCaption("user32.dll", 808, "", prog(58990));
    c[capClose] = LoadSystemCaption("user32.dll", 905, "", prog(58976));
    c[capAddCustomColor] = LoadSystemCaption("colorui.dll", 1810, "", prog(58960));
    c[capDefineColors] = LoadSystemCaption("shell32.dll", 4151, "", prog(58959));
    c[capAdditionalColors] = LoadSystemCaption("shell32.dll", 31153, ":", prog(58957));
    c[capDecimal] = LoadSystemCaption("shell32.dll", 16514, " - ", prog(58952));
    c[capRoot] = LoadSystemCaption("shell32.dll", 33015, ":", "Root:");
    c[capCreate] = LoadSystemCaption("shell32.dll", 4151, "", prog(58910));
    c[capRestore] = LoadSystemCaption("comctl32.dll", 33056, "", prog(58981));
    c[capSize] = LoadSystemCaption("comctl32.dll", 32768, "", prog(58979));
    c[capMove] = LoadSystemCaption("comctl32.dll", 32784, "", prog(58980));
    c[capMaximize] = LoadSystemCaption("comctl32.dll", 32816, "", prog(58977));
    c[capMinimize] = LoadSystemCaption("comctl32.dll", 32800, "", prog(58978));
    c[capCalculator] = "Calculator";
    c[capFileOpen] = LoadSystemCaption("comdlg32.dll", 436, "", prog(58970));
    c[capSelectDirectory] = LoadSystemCaption("comdlg32.dll", 439, "", prog(58911));
    c[capRed] = LoadSystemCaption("comdlg32.dll", 1049, ":", prog(58955));
    c[capGreen] = LoadSystemCaption("comdlg32.dll", 1042, ":", prog(58954));
    c[capBlue] = LoadSystemCaption("comdlg32.dll", 1052, ":", prog(58953));
    c[capColor] = LoadSystemCaption("compstui.dll", 64744, "", prog(58956));
    c[capHex] = prog(58951);
    c[capFont] = LoadSystemCaption("inetres.dll", 1175, "", prog(58934));
    c[capFontColor] = LoadSystemCaption("inetres.dll", 5273, ":", "Font color:");
    c[capInvalidDate] = prog(58923).empty() ? "Invalid date" : prog(58923);
    c[capAvailableStyles] = prog(58964);
    c[capInternalStyle] = prog(58963);
    c[capSkinDirectory] = lib.ProgramString("SDirWithSkins");
    c[capSelectSkin] = lib.ProgramString("SSelectSkin");
    c[capSkinPreview] = lib.ProgramString("SSkinPreview");
    c[capFrameAdapter] = prog(58950);
    s.InvalidDateText = c[capInvalidDate];
}

void EndConst(Impl& lib) {
    for (auto& c : lib.State.LibraryCaptions) c.clear();
    lib.State.InvalidDateText.clear();
}

void StartPng(Impl& lib) {
    RegisterFileFormat(
        graphics::PngFileExtension, graphics::PngFileDescription,
        [](graphics::TBitmap& b, graphics::TStream& s) { graphics::PngStreamToBitmap32(b, s); }, lib.PngOwner);
}

void EndPng(Impl& lib) { UnregisterFileFormats(lib.PngOwner); }

void StartGraphicsUtil(Impl& lib) {
    // The classic check-box strip is 4 x 3 cells of 13 x 13 pixels.
    lib.State.CheckBoxCellWidth = 52 / 4;
    lib.State.CheckBoxCellHeight = 39 / 3;
}

void StartHints(Impl& lib) {
    auto hint = std::make_unique<HintTemplate>();
    graphics::TPNGGraphic png;
    const resources::Bytes bytes = lib.LoadResource("ACHINT");
    graphics::TBytesStream stream(bytes.data(), bytes.size());
    png.LoadFromStream(stream);
    hint->Image.Assign(png);
    hint->BorderWidths = graphics::Rect(11, 10, 14, 15);
    hint->ShadowSizes = graphics::Rect(6, 5, 7, 8);
    hint->ClientMargins = graphics::Rect(11, 8, 16, 15);
    lib.State.Hints = std::move(hint);
}

void EndHints(Impl& lib) { lib.State.Hints.reset(); }

void StartGlyphs(Impl& lib) {
    auto list = std::make_unique<TsAlphaImageList>();
    list->SetWidth(32);
    list->SetHeight(16);
    for (const char* name : {"SF", "SR", "SD", "SE", "SC"}) {
        const resources::Bytes bytes = lib.LoadResource(name);
        TsImgListItem& item = list->AddItem();
        item.ImgData.assign(bytes.begin(), bytes.end());
        item.ImageFormat = TsImageFormat::ifPNG;
        item.PixelFormat = graphics::TPixelFormat::pf32bit;
    }
    list->GenerateStdList();
    lib.State.StandardGlyphList = std::move(list);
}

void EndGlyphs(Impl& lib) { lib.State.StandardGlyphList.reset(); }

void StartDateUtils(Impl& lib) {
    lib.State.DefaultFourDigitYear = FourDigitYearIn(platform::currentFormatSettings().shortDateFormat);
}

void StartMonthCalendar(Impl& lib) {
    const SystemStringTables& t = lib.Tables;
    if (t.Loads && !t.Loads("comctl32.dll")) return;
    std::string text = t.Text ? t.Text("comctl32.dll", 4432) : std::string();
    lib.State.TodayCaption = text.empty() ? "Today: " : text;
}

void EndMonthCalendar(Impl& lib) { lib.State.TodayCaption.clear(); }

void StartEditLabel(Impl& lib) { lib.State.StreamingClasses.push_back("TsEditLabel"); }

void StartPopupShadow(Impl& lib) { lib.State.PopupShadowTemplate = ShadowFromResource(lib, "acSHDI"); }

void EndPopupShadow(Impl& lib) { lib.State.PopupShadowTemplate.reset(); }

void StartColorDialog(Impl& lib) {
    lib.State.PipetteCursor = CursorFromResource(lib, "CRASPIPETTE", -50);
    lib.State.CustomColors.assign(18, "FFFFFF");
}

void EndColorDialog(Impl& lib) {
    lib.State.PipetteCursor.reset();
    lib.State.CustomColors.clear();
}

void StartSkinManager(Impl& lib) {
    StartupState& s = lib.State;
    s.IsNT = true;
    s.SkinShadowActive = ShadowFromResource(lib, "acSHDA");
    s.SkinShadowInactive = ShadowFromResource(lib, "acSHDI");
    for (const std::string& p : lib.Parameters) {
        if (Lower(p) == "/acver") {
            ++s.VersionMessagesShown;
            lib.ShowMessage(LibraryVersionText);
            break;
        }
    }
}

void EndSkinManager(Impl& lib) {
    lib.State.SkinShadowActive.reset();
    lib.State.SkinShadowInactive.reset();
}

void StartCalcHints(Impl& lib) {
    const SystemStringTables& t = lib.Tables;
    if (t.Loads && !t.Loads("user32.dll")) return;
    auto text = [&t](int id) { return t.Text ? t.Text("user32.dll", id) : std::string(); };
    lib.State.CalcButtonHints = {text(905), text(900)};
}

void EndCalcHints(Impl& lib) { lib.State.CalcButtonHints = {}; }

void Nothing(Impl&) {}

// Entry points of system libraries (gradient fill, GDI+, layered windows, themes,
// flat scroll bars, shell, debugger checks, DPI awareness) have no counterpart
// here: their steps resolve nothing and leave the pointers empty.
const std::vector<Step>& StepTable() {
    static const std::vector<Step> steps{
        {"sConst", StartConst, EndConst},
        {"resource strings", Nothing, Nothing},
        {"sStyleSimply", Nothing, Nothing},
        {"gradient", Nothing, Nothing},
        {"acPNG", StartPng, EndPng},
        {"GDI+", Nothing, Nothing},
        {"graphics utilities", StartGraphicsUtil, Nothing},
        {"acThdTimer, acGlow", Nothing, Nothing},
        {"sSkinMenus", Nothing, Nothing},
        {"sSpeedButton, acAlphaImageList", Nothing, Nothing},
        {"popup classes", Nothing, Nothing},
        {"acDials", Nothing, Nothing},
        {"sHtmlParse, acAlphaHints", StartHints, EndHints},
        {"sVclUtils", Nothing, Nothing},
        {"sFrameAdapter, sMDIForm, acSBUtils", Nothing, Nothing},
        {"acTitleBar, sMaskEdit, sGlyphUtils", StartGlyphs, EndGlyphs},
        {"sDateUtils", StartDateUtils, Nothing},
        {"sMonthCalendar", StartMonthCalendar, EndMonthCalendar},
        {"sPopupClndr", Nothing, Nothing},
        {"acShellCtrls", Nothing, Nothing},
        {"sLabel", StartEditLabel, Nothing},
        {"sToolEdit, sCustomComboEdit, acPopupController", StartPopupShadow, EndPopupShadow},
        {"sSkinProvider", Nothing, Nothing},
        {"colour dialog", StartColorDialog, EndColorDialog},
        {"message boxes", Nothing, Nothing},
        {"utilities", Nothing, Nothing},
        {"sMaskData, sSkinManager", StartSkinManager, EndSkinManager},
        {"sCommonData, sPanel, sCalcUnit", StartCalcHints, EndCalcHints},
        {"sCurrEdit", Nothing, Nothing},
    };
    return steps;
}

void EndStep(Impl& lib, std::size_t i) {
    int& calls = lib.Calls[i];
    if (calls <= 0) return;
    if (--calls == 0) {
        StepTable()[i].End(lib);
        lib.Trace.push_back(std::string("-") + StepTable()[i].Module);
    }
}

// Owners of the PNG registration, one per library, so that ending one library
// leaves another's registration alone.
int NextPngOwner() {
    static int next = 5;
    return next++;
}

ControlLibrary* gCurrent = nullptr;

}  // namespace

// ------------------------------------------------------------ public

resources::Bytes LoadResource(std::string_view name) {
    std::optional<resources::Bytes> bytes = resources::FindResource(name);
    if (!bytes) throw EResNotFound(std::string(name));
    return *bytes;
}

graphics::TBitmap LoadPngResource(std::string_view name) {
    const resources::Bytes bytes = LoadResource(name);
    graphics::TBitmap bmp;
    graphics::PngStreamToBitmap32(bmp, bytes.data(), bytes.size());
    return bmp;
}

int OsVersionLevelFor(int major, int minor) { return (major == 6 && minor == 2) ? 8 : major; }

bool FourDigitYearIn(const std::string& shortDateFormat) {
    std::string up = shortDateFormat;
    for (char& c : up)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return up.find("YYYY") != std::string::npos;
}

// ------------------------------------------------------------ the owner

ControlLibrary::ControlLibrary() : FImpl(std::make_unique<Impl>()), FPrevious(gCurrent) {
    FImpl->Calls.assign(StepTable().size(), 0);
    FImpl->PngOwner = NextPngOwner();
    gCurrent = this;
}

ControlLibrary::ControlLibrary(const std::vector<std::string>& parameters) : ControlLibrary() { Start(parameters); }

ControlLibrary::ControlLibrary(int argc, char** argv) : ControlLibrary() { Start(argc, argv); }

ControlLibrary::~ControlLibrary() {
    for (std::size_t i = StepTable().size(); i-- > 0;)
        while (FImpl->Calls[i] > 0) EndStep(*FImpl, i);
    // Libraries end in the reverse order of their creation; one that ends out
    // of turn is taken out of the chain.
    if (gCurrent == this) {
        gCurrent = FPrevious;
    } else {
        for (ControlLibrary* l = gCurrent; l; l = l->FPrevious)
            if (l->FPrevious == this) {
                l->FPrevious = FPrevious;
                break;
            }
    }
}

ControlLibrary* ControlLibrary::Current() { return gCurrent; }

const StartupState& ControlLibrary::CurrentResults() {
    static const StartupState none;
    return gCurrent ? gCurrent->State() : none;
}

void ControlLibrary::Start(const std::vector<std::string>& parameters) {
    Impl& lib = *FImpl;
    lib.Parameters = parameters;
    const std::vector<Step>& steps = StepTable();
    std::size_t i = 0;
    try {
        for (; i < steps.size(); ++i) {
            if (++lib.Calls[i] == 1) {
                try {
                    steps[i].Start(lib);
                } catch (...) {
                    lib.Calls[i] = 0;
                    steps[i].End(lib);  // frees whatever the step made before failing
                    throw;
                }
                lib.Trace.push_back(std::string("+") + steps[i].Module);
            }
        }
    } catch (...) {
        // Leave nothing half started: end what this call started, newest first.
        while (i-- > 0) EndStep(lib, i);
        throw;
    }
}

void ControlLibrary::Start(int argc, char** argv) {
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) params.emplace_back(argv[i] ? argv[i] : "");
    Start(params);
}

void ControlLibrary::Shutdown() {
    for (std::size_t i = StepTable().size(); i-- > 0;) EndStep(*FImpl, i);
}

void ControlLibrary::SetMessageCallback(MessageCallback callback) { FImpl->Messages = std::move(callback); }
void ControlLibrary::SetResourceLookup(ResourceLookup lookup) { FImpl->Lookup = std::move(lookup); }
void ControlLibrary::SetSystemStringTables(SystemStringTables tables) { FImpl->Tables = std::move(tables); }

const StartupState& ControlLibrary::State() const { return FImpl->State; }
std::string ControlLibrary::ProgramString(int id) const { return FImpl->ProgramString(id); }
std::string ControlLibrary::ProgramString(const std::string& name) const { return FImpl->ProgramString(name); }

std::vector<StartupStepInfo> ControlLibrary::Steps() const {
    std::vector<StartupStepInfo> out;
    const std::vector<Step>& steps = StepTable();
    for (std::size_t i = 0; i < steps.size(); ++i) out.push_back({steps[i].Module, FImpl->Calls[i]});
    return out;
}

const std::vector<std::string>& ControlLibrary::Trace() const { return FImpl->Trace; }
void ControlLibrary::ClearTrace() { FImpl->Trace.clear(); }

// The glyph code asks for the list where the current library keeps it.
TsAlphaImageList* StandardGlyphList() { return ControlLibrary::CurrentResults().StandardGlyphList.get(); }

}  // namespace vesperine
