#pragma once
// The control library's start-up and end steps.
//
// The program calls RunStartup(argc, argv) once before it builds its main
// window and RunShutdown() after its message loop has ended. Start-up runs the
// library's module steps in their fixed order; shutdown runs their end steps in
// reverse order. Every step counts its calls: it works only on its first call,
// and its end step works only when the count returns to zero.
//
// A missing or damaged embedded resource makes RunStartup throw (EResNotFound or
// the PNG reader's error) before anything is shown; the steps already started
// are ended again before the error leaves.
//
// The library has no windowing of its own: "/acver" reports its message through
// the callback set with SetMessageCallback (standard error by default).

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "graphics/alpha_image_list.h"
#include "graphics/bitmap32.h"
#include "graphics/errors.h"
#include "resources/resources.h"

namespace vesperine {

// The stream layer's error for a resource that is not embedded.
class EResNotFound : public graphics::Exception {
public:
    explicit EResNotFound(const std::string& name) : graphics::Exception("Resource " + name + " not found") {}
    const char* ClassName() const noexcept override { return "EResNotFound"; }
};

inline constexpr const char* LibraryVersionText = "Vesperine v11.25";

void RunStartup(int argc, char** argv);
void RunStartup(const std::vector<std::string>& parameters);  // parameters without the program name
void RunShutdown();

// How a message box is shown; the default writes the text and a line feed to
// standard error. The program registers a real box when it has a display.
using MessageCallback = std::function<void(const std::string& text)>;
void SetMessageCallback(MessageCallback callback);

// Where resources come from (the embedded files by default; tests swap in
// missing or damaged ones). An empty function restores the default.
using ResourceLookup = std::function<std::optional<resources::Bytes>(std::string_view name)>;
void SetResourceLookup(ResourceLookup lookup);
// The named resource, or EResNotFound.
resources::Bytes LoadResource(std::string_view name);
// Decodes a PNG resource into a 32-bit bitmap with straight alpha.
graphics::TBitmap LoadPngResource(std::string_view name);

// The system string tables the captions come from. The desktop's own tables do
// not exist here, so by default every module loads and holds no strings, and
// every caption takes its fallback. Tests swap in other tables.
struct SystemStringTables {
    // Whether the module loads at all.
    std::function<bool(const std::string& module)> Loads;
    // The string with that id, empty when the table has none.
    std::function<std::string(const std::string& module, int id)> Text;
};
void SetSystemStringTables(SystemStringTables tables);  // empty members restore the default

// The program's own string table (embedded "STRINGS"), by id or name.
std::string ProgramString(int id);
std::string ProgramString(const std::string& name);

// Loads a caption: from the module's table when the module loads (a non-empty
// text gets the suffix, an empty one the fallback); stays empty when the module
// does not load.
std::string LoadSystemCaption(const std::string& module, int id, const std::string& suffix,
                              const std::string& fallback);

// 8 for a reported version 6.2, otherwise the major version.
int OsVersionLevelFor(int major, int minor);
// True when the short date format, in upper case, holds "YYYY".
bool FourDigitYearIn(const std::string& shortDateFormat);

// ---------------------------------------------------------------- start-up state

struct HintTemplate {
    graphics::TBitmap Image;
    graphics::TRect BorderWidths;  // Left, Top, Right, Bottom
    graphics::TRect ShadowSizes;
    graphics::TRect ClientMargins;
};

struct CursorImage {
    int Number = 0;
    int HotSpotX = 0;
    int HotSpotY = 0;
    graphics::TBitmap Image;
};

inline constexpr int LibraryCaptionCount = 32;

struct StartupState {
    int OsVersionLevel = 0;
    int SM_CXHSCROLL = 0;
    int SM_CXFRAME = 0;
    int SM_CXDLGFRAME = 0;
    int SM_CYCAPTION = 0;
    int SM_CYSMCAPTION = 0;
    std::array<std::string, LibraryCaptionCount> LibraryCaptions;
    std::string InvalidDateText;
    bool DefaultFourDigitYear = false;
    std::string TodayCaption;
    std::unique_ptr<graphics::TBitmap> PopupShadowTemplate;
    std::array<std::string, 2> CalcButtonHints;
    // Skin-engine state: prepared, never read by the program's controls.
    std::unique_ptr<vesperine::HintTemplate> Hints;
    std::unique_ptr<graphics::TBitmap> SkinShadowActive;
    std::unique_ptr<graphics::TBitmap> SkinShadowInactive;
    std::unique_ptr<CursorImage> PipetteCursor;
    std::vector<std::string> CustomColors;
    std::vector<std::string> StreamingClasses;
    bool IsNT = false;
    int CheckBoxCellWidth = 0;
    int CheckBoxCellHeight = 0;
    int VersionMessagesShown = 0;
};

// Read-only view for the controls.
const StartupState& Startup();

// Caption positions within LibraryCaptions.
enum LibraryCaption : int {
    capOK, capCancel, capHelp, capClose, capAddCustomColor, capDefineColors, capAdditionalColors, capDecimal,
    capRoot, capCreate, capRestore, capSize, capMove, capMaximize, capMinimize, capCalculator, capFileOpen,
    capSelectDirectory, capRed, capGreen, capBlue, capColor, capHex, capFont, capFontColor, capInvalidDate,
    capAvailableStyles, capInternalStyle, capSkinDirectory, capSelectSkin, capSkinPreview, capFrameAdapter
};

// Accessors the controls read.
const std::string& InvalidDateText();
bool DefaultFourDigitYear();
const std::string& TodayCaption();
// The 33 x 33 popup shadow template, or null outside start-up..shutdown.
const graphics::TBitmap* PopupShadowTemplate();
const std::array<std::string, 2>& CalcButtonHints();

// ---------------------------------------------------------------- steps

struct StartupStepInfo {
    std::string Module;
    int Calls = 0;  // start calls minus end calls
};
// The steps in start-up order with their counts.
std::vector<StartupStepInfo> StartupSteps();
// Every step that did its work, in order: "+module" at start, "-module" at end.
const std::vector<std::string>& StartupTrace();
void ClearStartupTrace();

}  // namespace vesperine
