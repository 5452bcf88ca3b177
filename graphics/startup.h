#pragma once
// The control library's start-up and end steps, and the one object that owns
// what they produce: ControlLibrary.
//
// The program creates a ControlLibrary before it builds its main window and
// destroys it after its message loop has ended. Start-up runs the library's
// module steps in their fixed order; shutdown runs their end steps in reverse
// order. Every step counts its calls: it works only on its first call, and its
// end step works only when the count returns to zero.
//
// A missing or damaged embedded resource makes start-up throw (EResNotFound or
// the PNG reader's error) before anything is shown; the steps already started
// are ended again before the error leaves.
//
// The widgets read the start-up results through ControlLibrary::CurrentResults(),
// the state of the newest library alive; tests create their own library.
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

// How a message box is shown; the default writes the text and a line feed to
// standard error. The program registers a real box when it has a display.
using MessageCallback = std::function<void(const std::string& text)>;

// Where resources come from (the embedded files by default; tests swap in
// missing or damaged ones). An empty function stands for the default.
using ResourceLookup = std::function<std::optional<resources::Bytes>(std::string_view name)>;
// The embedded resource, or EResNotFound.
resources::Bytes LoadResource(std::string_view name);
// Decodes an embedded PNG resource into a 32-bit bitmap with straight alpha.
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
    // The five button glyphs (null outside start-up..shutdown).
    std::unique_ptr<TsAlphaImageList> StandardGlyphList;
};

// Caption positions within LibraryCaptions.
enum LibraryCaption : int {
    capOK,
    capCancel,
    capHelp,
    capClose,
    capAddCustomColor,
    capDefineColors,
    capAdditionalColors,
    capDecimal,
    capRoot,
    capCreate,
    capRestore,
    capSize,
    capMove,
    capMaximize,
    capMinimize,
    capCalculator,
    capFileOpen,
    capSelectDirectory,
    capRed,
    capGreen,
    capBlue,
    capColor,
    capHex,
    capFont,
    capFontColor,
    capInvalidDate,
    capAvailableStyles,
    capInternalStyle,
    capSkinDirectory,
    capSelectSkin,
    capSkinPreview,
    capFrameAdapter
};

// ---------------------------------------------------------------- steps

struct StartupStepInfo {
    std::string Module;
    int Calls = 0;  // start calls minus end calls
};

class ControlLibrary {
public:
    // Created without starting: set the callbacks first, then Start.
    ControlLibrary();
    // Created and started with the program's parameters (without its name).
    explicit ControlLibrary(const std::vector<std::string>& parameters);
    // Created and started with main's arguments (argv[0] is skipped).
    ControlLibrary(int argc, char** argv);
    // Runs the end steps of whatever is still started.
    ~ControlLibrary();
    ControlLibrary(const ControlLibrary&) = delete;
    ControlLibrary& operator=(const ControlLibrary&) = delete;

    // The newest library alive, or null.
    static ControlLibrary* Current();
    // The current library's start-up results; empty ones when there is none.
    static const StartupState& CurrentResults();

    void Start(const std::vector<std::string>& parameters);
    void Start(int argc, char** argv);  // argv[0] is skipped
    void Shutdown();

    void SetMessageCallback(MessageCallback callback);
    void SetResourceLookup(ResourceLookup lookup);
    void SetSystemStringTables(SystemStringTables tables);  // empty members stand for the default

    const StartupState& State() const;
    // The program's own string table (embedded "STRINGS"), by id or name;
    // read at start-up.
    std::string ProgramString(int id) const;
    std::string ProgramString(const std::string& name) const;

    // The steps in start-up order with their counts.
    std::vector<StartupStepInfo> Steps() const;
    // Every step that did its work, in order: "+module" at start, "-module" at end.
    const std::vector<std::string>& Trace() const;
    void ClearTrace();

    struct Impl;

private:
    std::unique_ptr<Impl> FImpl;
    ControlLibrary* FPrevious = nullptr;
};

}  // namespace vesperine
