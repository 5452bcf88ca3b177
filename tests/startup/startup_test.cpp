#include "tests/support/prerequisites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "graphics/picture_registry.h"
#include "graphics/png_graphic.h"
#include "graphics/startup.h"
#include "platform/regional.h"
#include "resources/resources.h"

using namespace vesperine;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        library.SetMessageCallback([this](const std::string& text) { messages.push_back(text); });
    }
    bool AllStepsEnded() const {
        auto steps = library.Steps();
        return std::all_of(steps.begin(), steps.end(), [](const StartupStepInfo& s) { return s.Calls == 0; });
    }
    std::vector<std::string> messages;
    // Ends every step however many times it was started.
    ControlLibrary library;
};

TEST_F(StartupTest, StepsRunInTableOrderAndEndInReverse) {
    library.Start({});
    std::vector<std::string> started = library.Trace();
    const auto steps = library.Steps();
    ASSERT_EQ(started.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(started[i], "+" + steps[i].Module);
    EXPECT_EQ(steps.front().Module, "sConst");
    EXPECT_EQ(steps[4].Module, "acPNG");
    EXPECT_EQ(steps[15].Module, "acTitleBar, sMaskEdit, sGlyphUtils");
    EXPECT_EQ(steps[21].Module, "sToolEdit, sCustomComboEdit, acPopupController");
    EXPECT_EQ(steps.size(), 29u);

    library.ClearTrace();
    library.Shutdown();
    const std::vector<std::string>& ended = library.Trace();
    ASSERT_EQ(ended.size(), steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(ended[i], "-" + steps[steps.size() - 1 - i].Module);
    EXPECT_TRUE(AllStepsEnded());
    EXPECT_EQ(StandardGlyphList(), nullptr);
    EXPECT_EQ(library.State().PopupShadowTemplate.get(), nullptr);
}

TEST_F(StartupTest, EachStepCountsCallsAndWorksOnlyOnFirstAndLast) {
    library.Start({"/acver"});
    const TsAlphaImageList* list = StandardGlyphList();
    library.Start({"/acver"});
    EXPECT_EQ(StandardGlyphList(), list) << "second start must not rebuild";
    EXPECT_EQ(messages.size(), 1u);
    for (const auto& s : library.Steps()) EXPECT_EQ(s.Calls, 2) << s.Module;

    library.ClearTrace();
    library.Shutdown();
    EXPECT_TRUE(library.Trace().empty()) << "first end only counts down";
    EXPECT_NE(StandardGlyphList(), nullptr);
    library.Shutdown();
    EXPECT_EQ(library.Trace().size(), library.Steps().size());
    EXPECT_EQ(StandardGlyphList(), nullptr);
}

TEST_F(StartupTest, VersionSwitchInAnyCaseShowsTheBoxOnce) {
    struct Case {
        std::vector<std::string> params;
        std::size_t boxes;
    };
    const std::vector<Case> cases = {
        {{}, 0},
        {{"/acver"}, 1},
        {{"/ACVER"}, 1},
        {{"/AcVeR"}, 1},
        {{"/acver", "/ACVER"}, 1},
        {{"/executa", "/Acver"}, 1},
        {{"/acversion"}, 0},
        {{"acver"}, 0},
        {{"-acver"}, 0},
        {{"/executa"}, 0},
    };
    for (const Case& c : cases) {
        messages.clear();
        library.Start(c.params);
        library.Shutdown();
        ASSERT_EQ(messages.size(), c.boxes) << (c.params.empty() ? "(none)" : c.params[0]);
        if (c.boxes) {
            EXPECT_EQ(messages[0], "Vesperine v11.25");
        }
    }
}

TEST_F(StartupTest, ArgvFormSkipsTheProgramName) {
    char prog[] = "/acver";  // a program path that happens to look like the switch
    char other[] = "/x";
    char* argv[] = {prog, other, nullptr};
    library.Start(2, argv);
    EXPECT_TRUE(messages.empty());
}

TEST_F(StartupTest, ShadowTemplateIsDecodedWithInvisibleWhiteCleared) {
    // The embedded template does hold transparent white pixels ...
    graphics::TBitmap raw = LoadPngResource("acSHDI");
    int whites = 0;
    for (int y = 0; y < raw.Height(); ++y)
        for (int x = 0; x < raw.Width(); ++x) whites += graphics::ReadPixel32(raw, x, y) == 0x00FFFFFFu;
    ASSERT_GT(whites, 0);

    // ... which start-up clears.
    library.Start({});
    const graphics::TBitmap* shadow = library.State().PopupShadowTemplate.get();
    ASSERT_NE(shadow, nullptr);
    EXPECT_EQ(shadow->Width(), 33);
    EXPECT_EQ(shadow->Height(), 33);
    EXPECT_EQ(shadow->PixelFormat(), graphics::TPixelFormat::pf32bit);
    int opaqueCentre = 0;
    for (int y = 0; y < 33; ++y)
        for (int x = 0; x < 33; ++x) {
            const uint32_t p = graphics::ReadPixel32(*shadow, x, y);
            EXPECT_NE(p, 0x00FFFFFFu) << x << "," << y;
            if (x == 16 && y == 16) opaqueCentre = int(p >> 24);
        }
    // Alpha falls off from the centre to nothing at the border.
    EXPECT_GT(opaqueCentre, 0);
    EXPECT_EQ(graphics::ReadPixel32(*shadow, 0, 0), 0u);
    EXPECT_GT(graphics::ReadPixel32(*shadow, 16, 8) >> 24, graphics::ReadPixel32(*shadow, 16, 3) >> 24);
}

TEST_F(StartupTest, CaptionsFallBackWhereTheSystemTablesAreEmpty) {
    library.Start({});
    EXPECT_EQ(library.State().InvalidDateText, "Invalid date");
    EXPECT_EQ(library.State().TodayCaption, "Today: ");
    const auto& c = library.State().LibraryCaptions;
    EXPECT_EQ(c[capOK], "OK");
    EXPECT_EQ(c[capHelp], "&Help");
    EXPECT_EQ(c[capDecimal], "Decimal - ");  // blanks kept
    EXPECT_EQ(c[capHex], "Hex - ");
    EXPECT_EQ(c[capRoot], "Root:");
    EXPECT_EQ(c[capCalculator], "Calculator");
    EXPECT_EQ(c[capSelectSkin], "Select skin");
    EXPECT_EQ(c[capFrameAdapter], "TsFrameAdapter adapter must be placed on the handled frame");
    for (std::size_t i = 0; i < c.size(); ++i) EXPECT_FALSE(c[i].empty()) << i;
    library.Shutdown();
    EXPECT_TRUE(library.State().InvalidDateText.empty());
    EXPECT_TRUE(library.State().TodayCaption.empty());
}

TEST_F(StartupTest, CaptionsFromSystemTablesGetSuffixAndMissingModulesStayEmpty) {
    const std::map<std::pair<std::string, int>, std::string> table = {
        {{"shell32.dll", 31153}, "Weitere Farben"},
        {{"comctl32.dll", 4432}, "Hoje:"},
        {{"user32.dll", 905}, "Fechar"},
        {{"user32.dll", 900}, "Ajuda"},
    };
    library.SetSystemStringTables({[](const std::string& m) { return m != "comdlg32.dll"; },
                                   [table](const std::string& m, int id) {
                                       auto it = table.find({m, id});
                                       return it == table.end() ? std::string() : it->second;
                                   }});
    library.Start({});
    const auto& c = library.State().LibraryCaptions;
    EXPECT_EQ(c[capAdditionalColors], "Weitere Farben:");
    EXPECT_EQ(c[capClose], "Fechar");
    EXPECT_EQ(c[capRed], "") << "comdlg32 did not load: no fallback";
    EXPECT_EQ(c[capFileOpen], "");
    EXPECT_EQ(c[capMove], "Move");
    EXPECT_EQ(library.State().TodayCaption, "Hoje:");
    EXPECT_EQ(library.State().CalcButtonHints[0], "Fechar");
    EXPECT_EQ(library.State().CalcButtonHints[1], "Ajuda");
}

TEST_F(StartupTest, TodayCaptionAndHintsStayEmptyWhenTheirLibraryDoesNotLoad) {
    library.SetSystemStringTables({[](const std::string&) { return false; }, nullptr});
    library.Start({});
    EXPECT_EQ(library.State().TodayCaption, "");
    EXPECT_EQ(library.State().CalcButtonHints[0], "");
    EXPECT_EQ(library.State().InvalidDateText, "Invalid date") << "the program's own string, no module involved";
}

TEST_F(StartupTest, PngReaderIsRegisteredForItsExtension) {
    ASSERT_NE(FindFileFormat("png"), nullptr);
    EXPECT_NE(FindFileFormat("png")->Description, "Portable network graphics (Vesperine)");
    library.Start({});
    const PictureFormat* f = FindFileFormat("png");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->Description, "Portable network graphics (Vesperine)");
    EXPECT_EQ(FindFileFormat("PNG"), f);
    // The registered loader decodes an embedded image.
    const resources::Bytes sd = LoadResource("SD");
    graphics::TBytesStream stream(sd.data(), sd.size());
    graphics::TBitmap bmp;
    f->Loader(bmp, stream);
    EXPECT_EQ(bmp.Width(), 48);
    library.Shutdown();
    ASSERT_NE(FindFileFormat("png"), nullptr);
    EXPECT_NE(FindFileFormat("png")->Description, "Portable network graphics (Vesperine)");
}

TEST_F(StartupTest, MissingOrDamagedResourceStopsStartupAndLeavesNothingStarted) {
    struct Case {
        std::string name;
        bool damage;  // false: missing
        std::string error;
    };
    const std::vector<Case> cases = {
        {"SD", false, "Resource SD not found"},
        {"ACHINT", false, "Resource ACHINT not found"},
        {"acSHDA", false, "Resource acSHDA not found"},
        {"acSHDI", false, "Resource acSHDI not found"},
        {"CRASPIPETTE", false, "Resource CRASPIPETTE not found"},
        {"SC", true, graphics::gesInvalidCRC},
        {"acSHDI", true, graphics::gesInvalidCRC},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged;
        library.SetResourceLookup([&](std::string_view name) -> std::optional<resources::Bytes> {
            auto bytes = resources::FindResource(name);
            if (!bytes || bytes->data() != resources::FindResource(c.name)->data()) return bytes;
            if (!c.damage) return std::nullopt;
            damaged.assign(bytes->begin(), bytes->end());
            damaged[30] ^= 0x01;  // the header chunk's CRC
            return resources::Bytes(damaged.data(), damaged.size());
        });
        try {
            library.Start({"/acver"});
            ADD_FAILURE() << c.name << " did not stop start-up";
        } catch (const graphics::Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.error) << c.name;
            if (!c.damage) {
                EXPECT_STREQ(e.ClassName(), "EResNotFound");
            }
        }
        EXPECT_TRUE(AllStepsEnded()) << c.name;
        EXPECT_EQ(StandardGlyphList(), nullptr) << c.name;
        EXPECT_EQ(library.State().PopupShadowTemplate.get(), nullptr) << c.name;
        EXPECT_TRUE(messages.empty()) << "no version box before the failing step";
        // A later start with sound resources works.
        library.SetResourceLookup(nullptr);
        library.Start({});
        EXPECT_NE(StandardGlyphList(), nullptr);
        library.Shutdown();
    }
}

TEST(ControlLibraryOwner, TheNewestLibraryAliveIsWhatTheWidgetsRead) {
    EXPECT_EQ(ControlLibrary::Current(), nullptr);
    EXPECT_EQ(ControlLibrary::CurrentResults().PopupShadowTemplate, nullptr);
    {
        ControlLibrary program{std::vector<std::string>{}};
        EXPECT_EQ(ControlLibrary::Current(), &program);
        EXPECT_EQ(ControlLibrary::CurrentResults().TodayCaption, "Today: ");
        EXPECT_EQ(StandardGlyphList(), program.State().StandardGlyphList.get());
        {
            // A test's own library, with other system tables, takes over while it lives ...
            ControlLibrary own;
            own.SetSystemStringTables({nullptr, [](const std::string& m, int id) {
                                           return m == "comctl32.dll" && id == 4432 ? std::string("Hoje:")
                                                                                    : std::string();
                                       }});
            own.Start({});
            EXPECT_EQ(ControlLibrary::Current(), &own);
            EXPECT_EQ(ControlLibrary::CurrentResults().TodayCaption, "Hoje:");
            EXPECT_EQ(StandardGlyphList(), own.State().StandardGlyphList.get());
        }
        // ... and the program's comes back whole, its PNG reader still registered.
        EXPECT_EQ(ControlLibrary::Current(), &program);
        EXPECT_EQ(ControlLibrary::CurrentResults().TodayCaption, "Today: ");
        ASSERT_NE(FindFileFormat("png"), nullptr);
        EXPECT_EQ(FindFileFormat("png")->Description, "Portable network graphics (Vesperine)");
    }
    EXPECT_EQ(ControlLibrary::Current(), nullptr);
    EXPECT_EQ(StandardGlyphList(), nullptr);
}

TEST(StartupRules, FourDigitYearFollowsTheShortDateFormat) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"dd/MM/yyyy", true}, {"dd/MM/yy", false}, {"M/d/yyyy", true}, {"M/d/yy", false},
        {"YYYY-MM-DD", true}, {"yyy", false},      {"d.M.yYyY", true}, {"", false},
    };
    for (const auto& [format, expected] : cases) EXPECT_EQ(FourDigitYearIn(format), expected) << format;
}

TEST(StartupRules, OsVersionLevel) {
    EXPECT_EQ(OsVersionLevelFor(6, 2), 8);
    EXPECT_EQ(OsVersionLevelFor(6, 1), 6);
    EXPECT_EQ(OsVersionLevelFor(10, 0), 10);
    EXPECT_EQ(OsVersionLevelFor(5, 2), 5);
}

TEST(Resources, LookupIgnoresLetterCaseAndKnowsEveryName) {
    for (const char* name : {"SF", "SR", "SD", "SE", "SC", "ACHINT", "acSHDA", "acSHDI", "CRASPIPETTE", "MAINICON"}) {
        auto bytes = resources::FindResource(name);
        ASSERT_TRUE(bytes) << name;
        EXPECT_GT(bytes->size(), 8u) << name;
    }
    EXPECT_EQ(resources::FindResource("acshdi")->data(), resources::FindResource("ACSHDI")->data());
    EXPECT_FALSE(resources::FindResource("SX"));
    EXPECT_FALSE(resources::FindResource("S"));
}

}  // namespace

namespace {

TEST(StartupLocale, FourDigitYearIsReadFromTheProcessLocaleAtStartup) {
    struct Case {
        const char* locale;
    };
    for (const Case& c : {Case{"pt_BR.UTF-8"}, Case{"en_US.UTF-8"}}) {
        REQUIRE_PREREQUISITE(platform::setProcessLocale(c.locale),
                             std::string(c.locale) + " is not installed (scripts/install-deps.sh generates it)");
        const std::string format = platform::currentFormatSettings().shortDateFormat;
        vesperine::ControlLibrary library{std::vector<std::string>{}};
        EXPECT_EQ(library.State().DefaultFourDigitYear, vesperine::FourDigitYearIn(format))
            << c.locale << " " << format;
    }
    // pt-BR writes the year with four digits.
    ASSERT_TRUE(platform::setProcessLocale("pt_BR.UTF-8"));
    {
        vesperine::ControlLibrary library{std::vector<std::string>{}};
        EXPECT_TRUE(library.State().DefaultFourDigitYear) << platform::currentFormatSettings().shortDateFormat;
    }
    platform::setProcessLocale("C");
}

}  // namespace
