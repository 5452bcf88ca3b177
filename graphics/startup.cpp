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
namespace {

StartupState& State() {
    static StartupState state;
    return state;
}

std::vector<std::string>& Trace() {
    static std::vector<std::string> trace;
    return trace;
}

std::vector<std::string>& Parameters() {
    static std::vector<std::string> params;
    return params;
}

MessageCallback& Messages() {
    static MessageCallback cb;
    return cb;
}

ResourceLookup& Lookup() {
    static ResourceLookup lookup;
    return lookup;
}

SystemStringTables& Tables() {
    static SystemStringTables tables;
    return tables;
}

void ShowMessage(const std::string& text) {
    if (Messages())
        Messages()(text);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

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

std::map<std::string, std::string>& ProgramStrings() {
    static std::map<std::string, std::string> strings;
    return strings;
}

// Read on each start-up: the resources may differ between runs (tests).
void LoadProgramStrings() { ProgramStrings() = ParseStrings(LoadResource("STRINGS")); }

// ------------------------------------------------------------ resource decoding

std::unique_ptr<graphics::TBitmap> ShadowFromResource(std::string_view name) {
    auto bmp = std::make_unique<graphics::TBitmap>(LoadPngResource(name));
    graphics::ClearInvisibleWhite(*bmp);
    return bmp;
}

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

std::unique_ptr<CursorImage> CursorFromResource(std::string_view name, int number) {
    const resources::Bytes b = LoadResource(name);
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

constexpr int kPngOwner = 5;  // registry owner id of the library's PNG class

struct Step {
    const char* Module;
    void (*Start)();
    void (*End)();
    int Calls = 0;
};

void StartConst() {
    StartupState& s = State();
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

    LoadProgramStrings();
    auto& c = s.LibraryCaptions;
    auto prog = [](int id) { return ProgramString(id); };
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
    c[capSkinDirectory] = ProgramString("SDirWithSkins");
    c[capSelectSkin] = ProgramString("SSelectSkin");
    c[capSkinPreview] = ProgramString("SSkinPreview");
    c[capFrameAdapter] = prog(58950);
    s.InvalidDateText = c[capInvalidDate];
}

void EndConst() {
    for (auto& c : State().LibraryCaptions) c.clear();
    State().InvalidDateText.clear();
}

void StartPng() {
    RegisterFileFormat(graphics::PngFileExtension, graphics::PngFileDescription,
                       [](graphics::TBitmap& b, graphics::TStream& s) { graphics::PngStreamToBitmap32(b, s); },
                       kPngOwner);
}

void EndPng() { UnregisterFileFormats(kPngOwner); }

void StartGraphicsUtil() {
    // The classic check-box strip is 4 x 3 cells of 13 x 13 pixels.
    State().CheckBoxCellWidth = 52 / 4;
    State().CheckBoxCellHeight = 39 / 3;
}

void StartHints() {
    auto hint = std::make_unique<HintTemplate>();
    graphics::TPNGGraphic png;
    const resources::Bytes bytes = LoadResource("ACHINT");
    graphics::TBytesStream stream(bytes.data(), bytes.size());
    png.LoadFromStream(stream);
    hint->Image.Assign(png);
    hint->BorderWidths = graphics::Rect(11, 10, 14, 15);
    hint->ShadowSizes = graphics::Rect(6, 5, 7, 8);
    hint->ClientMargins = graphics::Rect(11, 8, 16, 15);
    State().Hints = std::move(hint);
}

void EndHints() { State().Hints.reset(); }

void StartGlyphs() {
    auto list = std::make_unique<TsAlphaImageList>();
    list->SetWidth(32);
    list->SetHeight(16);
    for (const char* name : {"SF", "SR", "SD", "SE", "SC"}) {
        const resources::Bytes bytes = LoadResource(name);
        TsImgListItem& item = list->AddItem();
        item.ImgData.assign(bytes.begin(), bytes.end());
        item.ImageFormat = TsImageFormat::ifPNG;
        item.PixelFormat = graphics::TPixelFormat::pf32bit;
    }
    list->GenerateStdList();
    SetStandardGlyphList(std::move(list));
}

void EndGlyphs() { SetStandardGlyphList(nullptr); }

void StartDateUtils() {
    State().DefaultFourDigitYear = FourDigitYearIn(platform::currentFormatSettings().shortDateFormat);
}

void StartMonthCalendar() {
    const SystemStringTables& t = Tables();
    if (!t.Loads("comctl32.dll")) return;
    std::string text = t.Text("comctl32.dll", 4432);
    State().TodayCaption = text.empty() ? "Today: " : text;
}

void EndMonthCalendar() { State().TodayCaption.clear(); }

void StartEditLabel() { State().StreamingClasses.push_back("TsEditLabel"); }

void StartPopupShadow() { State().PopupShadowTemplate = ShadowFromResource("acSHDI"); }

void EndPopupShadow() { State().PopupShadowTemplate.reset(); }

void StartColorDialog() {
    State().PipetteCursor = CursorFromResource("CRASPIPETTE", -50);
    State().CustomColors.assign(18, "FFFFFF");
}

void EndColorDialog() {
    State().PipetteCursor.reset();
    State().CustomColors.clear();
}

void StartSkinManager() {
    StartupState& s = State();
    s.IsNT = true;
    s.SkinShadowActive = ShadowFromResource("acSHDA");
    s.SkinShadowInactive = ShadowFromResource("acSHDI");
    for (const std::string& p : Parameters()) {
        if (Lower(p) == "/acver") {
            ++s.VersionMessagesShown;
            ShowMessage(LibraryVersionText);
            break;
        }
    }
}

void EndSkinManager() {
    State().SkinShadowActive.reset();
    State().SkinShadowInactive.reset();
}

void StartCalcHints() {
    const SystemStringTables& t = Tables();
    if (!t.Loads("user32.dll")) return;
    State().CalcButtonHints = {t.Text("user32.dll", 905), t.Text("user32.dll", 900)};
}

void EndCalcHints() { State().CalcButtonHints = {}; }

void Nothing() {}

// Entry points of system libraries (gradient fill, GDI+, layered windows, themes,
// flat scroll bars, shell, debugger checks, DPI awareness) have no counterpart
// here: their steps resolve nothing and leave the pointers empty.
std::vector<Step>& Steps() {
    static std::vector<Step> steps{
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

void EndStep(Step& step) {
    if (step.Calls <= 0) return;
    if (--step.Calls == 0) {
        step.End();
        Trace().push_back(std::string("-") + step.Module);
    }
}

}  // namespace

// ------------------------------------------------------------ public

void SetMessageCallback(MessageCallback callback) { Messages() = std::move(callback); }

void SetResourceLookup(ResourceLookup lookup) { Lookup() = std::move(lookup); }

resources::Bytes LoadResource(std::string_view name) {
    std::optional<resources::Bytes> bytes = Lookup() ? Lookup()(name) : resources::FindResource(name);
    if (!bytes) throw EResNotFound(std::string(name));
    return *bytes;
}

graphics::TBitmap LoadPngResource(std::string_view name) {
    const resources::Bytes bytes = LoadResource(name);
    graphics::TBitmap bmp;
    graphics::PngStreamToBitmap32(bmp, bytes.data(), bytes.size());
    return bmp;
}

void SetSystemStringTables(SystemStringTables tables) { Tables() = std::move(tables); }

namespace {
void EnsureTables() {
    if (!Tables().Loads) Tables().Loads = [](const std::string&) { return true; };
    if (!Tables().Text) Tables().Text = [](const std::string&, int) { return std::string(); };
}
}  // namespace

std::string ProgramString(int id) { return ProgramString(std::to_string(id)); }

std::string ProgramString(const std::string& name) {
    const auto& strings = ProgramStrings();
    auto it = strings.find(name);
    return it == strings.end() ? std::string() : it->second;
}

std::string LoadSystemCaption(const std::string& module, int id, const std::string& suffix,
                              const std::string& fallback) {
    EnsureTables();
    if (!Tables().Loads(module)) return std::string();
    std::string text = Tables().Text(module, id);
    return text.empty() ? fallback : text + suffix;
}

int OsVersionLevelFor(int major, int minor) { return (major == 6 && minor == 2) ? 8 : major; }

bool FourDigitYearIn(const std::string& shortDateFormat) {
    std::string up = shortDateFormat;
    for (char& c : up)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return up.find("YYYY") != std::string::npos;
}

void RunStartup(int argc, char** argv) {
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) params.emplace_back(argv[i] ? argv[i] : "");
    RunStartup(params);
}

void RunStartup(const std::vector<std::string>& parameters) {
    EnsureTables();
    Parameters() = parameters;
    std::vector<Step>& steps = Steps();
    std::size_t i = 0;
    try {
        for (; i < steps.size(); ++i) {
            Step& step = steps[i];
            if (++step.Calls == 1) {
                try {
                    step.Start();
                } catch (...) {
                    step.Calls = 0;
                    step.End();  // frees whatever the step made before failing
                    throw;
                }
                Trace().push_back(std::string("+") + step.Module);
            }
        }
    } catch (...) {
        // Leave nothing half started: end what this call started, newest first.
        while (i-- > 0) EndStep(steps[i]);
        throw;
    }
}

void RunShutdown() {
    std::vector<Step>& steps = Steps();
    for (std::size_t i = steps.size(); i-- > 0;) EndStep(steps[i]);
}

const StartupState& Startup() { return State(); }

const std::string& InvalidDateText() { return State().InvalidDateText; }
bool DefaultFourDigitYear() { return State().DefaultFourDigitYear; }
const std::string& TodayCaption() { return State().TodayCaption; }
const graphics::TBitmap* PopupShadowTemplate() { return State().PopupShadowTemplate.get(); }
const std::array<std::string, 2>& CalcButtonHints() { return State().CalcButtonHints; }

std::vector<StartupStepInfo> StartupSteps() {
    std::vector<StartupStepInfo> out;
    for (const Step& s : Steps()) out.push_back({s.Module, s.Calls});
    return out;
}

const std::vector<std::string>& StartupTrace() { return Trace(); }
void ClearStartupTrace() { Trace().clear(); }

}  // namespace vesperine
