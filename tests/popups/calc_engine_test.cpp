#include "controls/calc_engine.h"
#include "controls/number_rules.h"

#include <gtest/gtest.h>

#include <vector>

using controls::CalcEngine;
using controls::CalcHost;
using controls::TsCalcState;

namespace {

platform::FormatSettings ptBR() {
    platform::FormatSettings fs;
    fs.decimalSeparator = ',';
    fs.thousandSeparator = '.';
    fs.currencyString = "R$";
    return fs;
}

platform::FormatSettings enUS() {
    platform::FormatSettings fs;
    fs.decimalSeparator = '.';
    fs.thousandSeparator = ',';
    fs.currencyString = "$";
    return fs;
}

// Records what the calculator shows and does; optionally plays the numeric edit.
struct RecordingHost : CalcHost {
    platform::FormatSettings fs = ptBR();
    bool editor = false;
    std::vector<std::string> outputs;
    std::vector<std::string> handedBack;
    int closes = 0, focuses = 0;
    std::optional<bool> memoryNonZero;
    std::optional<std::string> clipboard;

    platform::FormatSettings formatSettings() const override { return fs; }
    void outputText(const std::string& t) override { outputs.push_back(t); }
    bool hasEditor() const override { return editor; }
    bool handBack(const std::string& t) override {
        long double value = 0;
        if (!controls::TryTextToFloat(t, fs.decimalSeparator, value)) return false;
        handedBack.push_back(t);
        return true;
    }
    void focusEditor() override { ++focuses; }
    void closeForm() override { ++closes; }
    void memoryChanged(bool nonZero) override { memoryNonZero = nonZero; }
    std::optional<std::string> clipboardText() const override { return clipboard; }
    void setClipboardText(const std::string& t) override { clipboard = t; }
};

// Plays a key sequence: plain characters go to CalcKey, <..> names a button or a control key.
void play(CalcEngine& calc, const std::string& keys) {
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == '<') {
            size_t end = keys.find('>', i);
            std::string name = keys.substr(i + 1, end - i - 1);
            i = end;
            if (name == "MS") calc.MemoryStore();
            else if (name == "MR") calc.MemoryRecall();
            else if (name == "MP") calc.MemoryAdd();
            else if (name == "MC") calc.MemoryClear();
            else if (name == "BS") calc.CalcKey(CalcEngine::kBackspace);
            else if (name == "ENTER") calc.CalcKey(CalcEngine::kEnter);
            else if (name == "ESC") calc.CalcKey(CalcEngine::kEsc);
            else if (name == "COPY") calc.CalcKey(CalcEngine::kCopy);
            else if (name == "PASTE") calc.CalcKey(CalcEngine::kPaste);
            else ADD_FAILURE() << "unknown key " << name;
        } else {
            calc.CalcKey(keys[i]);
        }
    }
}

struct KeyCase {
    const char* keys;
    const char* display;
};

class CalcKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(CalcKeys, ShowsDisplayText) {
    RecordingHost host;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, GetParam().keys);
    EXPECT_EQ(calc.Text(), GetParam().display) << "keys: " << GetParam().keys;
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CalcKeys,
    ::testing::Values(
        // left to right, no precedence
        KeyCase{"5+3*", "8"}, KeyCase{"5+3*2=", "16"}, KeyCase{"10-4-3=", "3"}, KeyCase{"7/2=", "3,5"},
        KeyCase{"5+*3=", "15"}, KeyCase{"2==", "2"}, KeyCase{"5+3=*2=", "16"},
        // percent
        KeyCase{"200+10%", "220"}, KeyCase{"200-10%", "180"}, KeyCase{"50*10%", "5"}, KeyCase{"50/10%", "500"},
        KeyCase{"10%", "10"},
        // entry
        KeyCase{"1,2,3", "1,23"}, KeyCase{"1.2", "1,2"}, KeyCase{",5", "0,5"}, KeyCase{"007", "7"},
        KeyCase{"5_<BS>", "0"}, KeyCase{"123<BS>", "12"}, KeyCase{"7+8=<BS>", "0"}, KeyCase{"5+3E4=", "9"},
        KeyCase{"12<ESC>", "0"}, KeyCase{"5_", "-5"}, KeyCase{"5__", "5"},
        // sixteen characters at most, a minus sign not counted
        KeyCase{"12345678901234567", "1234567890123456"}, KeyCase{"12345678901234,567", "12345678901234,5"},
        KeyCase{"1_2345678901234567", "-1234567890123456"},
        // unary keys and errors
        KeyCase{"4Q", "2"}, KeyCase{"4q", "2"}, KeyCase{"4R", "0,25"}, KeyCase{"4_Q", "Error"}, KeyCase{"0R", "Error"},
        KeyCase{"1/0+", "Error"}, KeyCase{"1/0+5*<ESC>", "Error"}, KeyCase{"1/0+C", "0"}, KeyCase{"1/0+c", "0"},
        KeyCase{"1/0+C5=", "5"},
        // display format
        KeyCase{"1/3=", "0,3333333333333333"}, KeyCase{"2/3=", "0,6666666666666667"}, KeyCase{"1/100000=", "1E-5"},
        KeyCase{"1/10000=", "0,0001"}, KeyCase{"99999999*99999999=", "9999999800000001"},
        KeyCase{"99999999*99999999*10=", "9,999999800000001E16"}, KeyCase{"0,1+0,2=", "0,3"},
        // memory
        KeyCase{"12<MS>C<MR>", "12"}, KeyCase{"12<MS>C<MR>3", "123"}, KeyCase{"5<MS>3<MP>C<MR>", "8"},
        KeyCase{"2<MS>1/0=<MR>", "Error"}));

TEST(CalcEngine, EnglishLocaleUsesItsSeparator) {
    RecordingHost host;
    host.fs = enUS();
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "1,5+1=");
    EXPECT_EQ(calc.Text(), "2.5");
    play(calc, "C2/3=");
    EXPECT_EQ(calc.Text(), "0.6666666666666667");
}

TEST(CalcEngine, ErrorBlocksEverythingButClear) {
    RecordingHost host;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "8<MS>1/0=");
    ASSERT_EQ(calc.Status(), TsCalcState::csError);
    EXPECT_EQ(calc.GetDisplay(), 0);
    play(calc, "5+<MS><MP><MR>Q_");
    EXPECT_EQ(calc.Text(), "Error");
    EXPECT_EQ(calc.Memory(), 8);
    play(calc, "<MC>");  // memory clear still works
    EXPECT_EQ(calc.Memory(), 0);
    play(calc, "C");
    EXPECT_EQ(calc.Status(), TsCalcState::csFirst);
    EXPECT_EQ(calc.PendingOperator(), '=');
    play(calc, "3=");
    EXPECT_EQ(calc.Text(), "3");
}

TEST(CalcEngine, OverflowShowsError) {
    RecordingHost host;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "9999999999999999");
    for (int i = 0; i < 12 && calc.Status() != TsCalcState::csError; ++i) play(calc, "<MS>*<MR>=");
    EXPECT_EQ(calc.Text(), "Error");
    EXPECT_EQ(calc.Status(), TsCalcState::csError);
}

TEST(CalcEngine, MemoryLabelFollowsTheMemory) {
    RecordingHost host;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "12<MS>");
    EXPECT_EQ(host.memoryNonZero, true);
    play(calc, "12_<MP>");
    EXPECT_EQ(host.memoryNonZero, false);
    play(calc, "3<MP>");
    EXPECT_EQ(host.memoryNonZero, true);
    play(calc, "<MC>");
    EXPECT_EQ(host.memoryNonZero, false);
}

TEST(CalcEngine, PasteTakesNumbersWithoutTheCurrencySymbol) {
    struct Case {
        const char* clip;
        const char* display;
    };
    for (Case c :
         {Case{"R$ 12,5", "12,5"}, Case{"  -3  ", "-3"}, Case{"abc", "0"}, Case{"1.234,5", "0"}, Case{"2E3", "2000"}}) {
        RecordingHost host;
        CalcEngine calc(&host);
        calc.SetPrecision(16);
        play(calc, "7");
        host.clipboard = c.clip;
        play(calc, "<PASTE>");
        EXPECT_EQ(calc.Text(), c.display) << c.clip;
        EXPECT_EQ(calc.Status(), TsCalcState::csValid) << "paste leaves the state alone";
    }
    RecordingHost host;
    CalcEngine calc(&host);
    play(calc, "42<COPY>");
    EXPECT_EQ(host.clipboard, "42");
}

TEST(CalcEngine, EditorSeesEveryTextAndGetsTheResult) {
    RecordingHost host;
    host.editor = true;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    calc.SetDisplay(5);  // what the popup does when it opens on an edit holding 5
    play(calc, "3+4=");
    EXPECT_EQ(host.outputs, (std::vector<std::string>{"5", "0", "", "3", "0", "", "4", "7"}));
    EXPECT_EQ(host.handedBack, (std::vector<std::string>{"7"}));
    EXPECT_EQ(host.closes, 1);
}

TEST(CalcEngine, EnterHandsBackOnlyBetweenEntries) {
    RecordingHost host;
    host.editor = true;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "2*6<ENTER>");
    EXPECT_EQ(calc.Text(), "12");
    EXPECT_TRUE(host.handedBack.empty());
    play(calc, "<ENTER>");
    EXPECT_EQ(host.handedBack, (std::vector<std::string>{"12"}));
    EXPECT_EQ(host.closes, 1);
}

TEST(CalcEngine, EqualsEndingInErrorKeepsThePopupOpen) {
    RecordingHost host;
    host.editor = true;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "1/0=");
    EXPECT_EQ(calc.Text(), "Error");
    EXPECT_TRUE(host.handedBack.empty());
    EXPECT_EQ(host.closes, 0);
    EXPECT_EQ(calc.Status(), TsCalcState::csError);
}

TEST(CalcEngine, EscClearsThenCloses) {
    RecordingHost host;
    host.editor = true;
    CalcEngine calc(&host);
    calc.SetPrecision(16);
    play(calc, "12<ESC>");
    EXPECT_EQ(host.outputs.back(), "0");
    EXPECT_EQ(host.closes, 0);
    play(calc, "<ESC>");
    EXPECT_EQ(host.closes, 1);
    EXPECT_EQ(host.focuses, 1);
    EXPECT_TRUE(host.handedBack.empty());
}

TEST(CalcEngine, WithoutEditorEqualsClosesNothing) {
    RecordingHost host;
    CalcEngine calc(&host);
    play(calc, "1+1=<ENTER>");
    EXPECT_EQ(calc.Text(), "2");
    EXPECT_EQ(host.closes, 0);
    EXPECT_TRUE(host.handedBack.empty());
}

TEST(CalcEngine, KeyHookMayChangeOrCancelKeys) {
    RecordingHost host;
    CalcEngine calc(&host);
    calc.FOnCalcKey = [](char& k) {
        if (k == '9') k = '1';
        if (k == '+') k = 0;
    };
    play(calc, "9+9");
    EXPECT_EQ(calc.Text(), "11");
}

}  // namespace
