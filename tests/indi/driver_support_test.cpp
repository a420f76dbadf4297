// The driver's own glue, without INDI or a camera: INDI's frame mapped onto
// the camera's frame rules, the window and image size that follow, the
// origin the FITS header records, exposure timing, and how the camera's
// answers are worded. The rules themselves are the library's (tests/api).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <tarnscsi/camera.h>
#include <tarnscsi/frame.h>
#include <tarnscsi/result.h>

#include "exposure_window.h"
#include "log_lines.h"
#include "number_message.h"
#include "switch_message.h"
#include "text_message.h"

namespace tarnscsi::indi {
namespace {

using namespace std::chrono_literals;

// The window the exposure session sends for a chip's frame.
ExposureSettings SentWindow(const ChipFrame& chip) { return WindowFor(FrameOfChip(chip), 1000); }

TEST(ExposureWindow, TakesWhatTheFrameRulesTake) {
    EXPECT_EQ(ChipFrameProblem({0, 0, 768, 512, 1, 1}), "");
    EXPECT_EQ(ChipFrameProblem({767, 511, 1, 1, 1, 1}), "");
    EXPECT_EQ(ChipFrameProblem({0, 0, 768, 512, 2, 2}), "");
    EXPECT_NE(ChipFrameProblem({1, 0, 768, 512, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 1, 768, 512, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({-1, 0, 10, 10, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 0, 0, 10, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 0, 1, 10, 2, 2}), "") << "no whole binned pixel";
    EXPECT_NE(ChipFrameProblem({0, 0, 10, 10, 3, 3}), "");
    EXPECT_NE(ChipFrameProblem({std::numeric_limits<int>::max(), 0, 10, 10, 1, 1}), "");
    // A binned origin on the binned grid only: the header records it so.
    EXPECT_EQ(ChipFrameProblem({101, 51, 100, 100, 1, 1}), "");
    EXPECT_NE(ChipFrameProblem({101, 50, 100, 100, 2, 2}), "");
    EXPECT_NE(ChipFrameProblem({100, 51, 100, 100, 2, 2}), "");
}

// INDI keeps a binning per axis; the library's frame has one. A frame the
// rules would take at the horizontal binning must still be refused when the
// vertical one differs.
TEST(ExposureWindow, RefusesUnequalBinningPerAxis) {
    EXPECT_NE(ChipFrameProblem({0, 0, 100, 100, 2, 1}), "");
    EXPECT_NE(ChipFrameProblem({0, 0, 100, 100, 1, 2}), "");
    EXPECT_EQ(FrameOfChip({3, 4, 100, 80, 2, 2}), (Frame{3, 4, 100, 80, kBinned}));
}

// What INDI writes into the FITS file must be what the camera sends, or the
// image would be cut short or padded with stale bytes.
TEST(ExposureWindow, ExpectedImageIsWhatTheCameraSends) {
    const ChipFrame frames[] = {
        {0, 0, 768, 512, 1, 1}, {0, 0, 768, 512, 2, 2}, {1, 1, 301, 201, 2, 2}, {5, 7, 3, 3, 2, 2}, {0, 0, 1, 1, 1, 1},
    };
    for (const ChipFrame& frame : frames) {
        EXPECT_EQ(ExpectedImageBytes(frame), ImageBytes(SentWindow(frame)))
            << frame.width << " x " << frame.height << " bin " << frame.binX;
    }
    EXPECT_EQ(ExpectedImageBytes({1, 1, 301, 201, 2, 2}), 150u * 100u * 2u);
}

TEST(ExposureWindow, HeaderOriginIsTheSentOriginInBinnedPixels) {
    EXPECT_EQ(HeaderOrigin(SentWindow({100, 50, 300, 200, 2, 2})), (BinnedPoint{50, 25}));
    EXPECT_EQ(HeaderOrigin(SentWindow({101, 51, 300, 200, 1, 1})), (BinnedPoint{101, 51}));
    EXPECT_EQ(HeaderOrigin(SentWindow({0, 0, 768, 512, 2, 2})), (BinnedPoint{0, 0}));
}

// The one check of every switch message: names, and the switch's rule once
// the message is applied (a one-of-many switch: the message turns exactly
// one element on; at most one: elements not named keep their state).
TEST(SwitchMessage, NamesMembersOnceAndKeepsTheRule) {
    const std::vector<SwitchElement> offOn = {{"A", false}, {"B", true}};
    struct Case {
        ISRule rule;
        std::vector<std::pair<std::string, ISState>> message;
        std::string problem;  // "" when accepted
    };
    const std::vector<Case> cases = {
        {ISR_1OFMANY, {{"A", ISS_ON}}, ""},
        {ISR_1OFMANY, {{"A", ISS_ON}, {"B", ISS_OFF}}, ""},
        {ISR_1OFMANY, {{"C", ISS_ON}}, "'C' is not one of its elements"},
        {ISR_1OFMANY, {{"A", ISS_ON}, {"B", ISS_ON}}, "only one element may be On"},
        {ISR_1OFMANY, {{"B", ISS_OFF}}, "one element must be On, and none is"},
        {ISR_1OFMANY, {{"A", ISS_ON}, {"A", ISS_OFF}}, "'A' is named twice"},
        {ISR_1OFMANY, {}, "the message names no element"},
        {ISR_ATMOST1, {{"B", ISS_OFF}}, ""},
        {ISR_ATMOST1, {{"A", ISS_ON}}, "only one element may be On"},
        {ISR_ATMOST1, {{"A", ISS_ON}, {"B", ISS_OFF}}, ""},
        {ISR_NOFMANY, {{"A", ISS_ON}}, ""},
        {ISR_NOFMANY, {{"Z", ISS_ON}}, "'Z' is not one of its elements"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        std::vector<ISState> states;
        for (const auto& [name, state] : c.message) {
            names.push_back(name);
            states.push_back(state);
        }
        std::vector<char*> pointers;
        for (std::string& name : names) pointers.push_back(name.data());
        EXPECT_EQ(SwitchMessageProblem(offOn, c.rule, states.data(), pointers.data(), static_cast<int>(names.size())),
                  c.problem)
            << c.rule << " " << (names.empty() ? std::string() : names.front());
    }
}

// The driver's run with a server shows the messages; here, what INDI's cast
// to int would make undefined, and values shown exactly as given.
TEST(NumberMessage, WholeNumbersFitAnIntAndValuesAreShownAsGiven) {
    char x[] = "X";
    char* names[] = {x};
    const double tooLarge[] = {1e10};
    const double largest[] = {2147483647};
    EXPECT_EQ(NumberMessageProblem(tooLarge, names, 1, true), "X is 1e+10, not a whole number");
    EXPECT_EQ(NumberMessageProblem(tooLarge, names, 1, false), "");
    EXPECT_EQ(NumberMessageProblem(largest, names, 1, true), "");
    EXPECT_EQ(NumberRangeProblem("SETPOINT", -100.01, -100, 50), "SETPOINT must be from -100 to 50, not -100.01");
}

// Commands as the camera ends them, for the wording of the driver's log.
constexpr std::uint8_t kScanOpcode = 0x1B;
constexpr std::uint8_t kReadOpcode = 0x28;
constexpr std::uint8_t kRequestCompleted = 0x01;
constexpr std::uint8_t kRequestError = 0x04;
constexpr std::uint8_t kCheckCondition = 0x02;
constexpr std::uint8_t kNotReady = 0x02;
constexpr std::uint8_t kIllegalRequest = 0x05;

CommandResult Completed(std::uint8_t opcode) {
    CommandResult result;
    result.cdb[0] = opcode;
    result.cdbLength = 6;
    result.sent = true;
    result.srbStatus = kRequestCompleted;
    return result;
}

CommandResult CheckCondition(std::uint8_t opcode, std::uint8_t key) {
    CommandResult result = Completed(opcode);
    result.srbStatus = kRequestError;
    result.targetStatus = kCheckCondition;
    result.sense = {true, key, 0, 0};
    return result;
}

// Joins lines as a reader would: a continued line follows the one before
// after a space.
std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (text.empty()) {
            text = line;
        } else {
            EXPECT_EQ(line.rfind(kContinuation, 0), 0u) << line;
            text += ' ';
            text += line.substr(std::char_traits<char>::length(kContinuation));
        }
    }
    return text;
}

// The bound is on the text as INDI writes it: an entity counts whole.
TEST(TextMessage, BoundsEachTextAsXmlWritesIt) {
    const auto problem = [](std::string text) {
        char name[] = "UPLOAD_DIR";
        char* names[] = {name};
        char* texts[] = {text.data()};
        return TextMessageProblem(texts, names, 1);
    };
    EXPECT_EQ(problem(std::string(kMaxTextBytes, 'a')), "");
    EXPECT_EQ(problem(std::string(kMaxTextBytes + 1, 'a')),
              "UPLOAD_DIR is 4097 bytes long as INDI writes it; a text may be 4096 at most");
    EXPECT_EQ(problem(std::string(kMaxTextBytes / 6, '\'')), "");
    EXPECT_NE(problem(std::string(kMaxTextBytes / 6 + 1, '\'')), "");
    EXPECT_EQ(XmlSize("<a & 'b'>\""), 35u);
}

TEST(LogLinesTest, ShortTextIsOneLine) {
    EXPECT_EQ(LogLines("Cooling to 19.0 C."), std::vector<std::string>{"Cooling to 19.0 C."});
    EXPECT_EQ(LogLines(""), std::vector<std::string>{""});
    const std::string exact(kLogLineLimit, 'x');
    EXPECT_EQ(LogLines(exact), std::vector<std::string>{exact});
}

// What the camera said, worded in full, is longer than INDI's message: each
// line must fit, the breaks fall at the pauses, and nothing is lost.
TEST(LogLinesTest, LongTextBreaksAtPausesAndLosesNothing) {
    const CommandResult scan = CheckCondition(kScanOpcode, kIllegalRequest);
    const CommandResult read = CheckCondition(kReadOpcode, kNotReady);
    const std::string text =
        "Exposure failed: the exposure did not start: " + scan.Explained() +
        " (the download then failed: an image read failed after 0 of 786432 bytes: " + read.Explained() + ").";
    ASSERT_GT(text.size(), kLogLineLimit);

    const auto lines = LogLines(text);
    ASSERT_GT(lines.size(), 1u);
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), kLogLineLimit) << line;
        EXPECT_NE(line.back(), ' ') << line;
    }
    EXPECT_EQ(lines.front().back(), ';') << "breaks after \"; \" first: " << lines.front();
    EXPECT_EQ(Joined(lines), text);
}

TEST(LogLinesTest, TextWithoutPausesIsCutAnywhere) {
    const std::string text(25, 'x');
    const auto lines = LogLines(text, 10);
    ASSERT_EQ(lines.size(), 4u);  // 10, then 6 beside each mark: 6, 6, 3
    std::string rejoined;
    for (const std::string& line : lines) {
        EXPECT_LE(line.size(), 10u);
        rejoined += line.substr(&line == &lines.front() ? 0 : std::char_traits<char>::length(kContinuation));
    }
    EXPECT_EQ(rejoined, text);
    // A limit with no room beside the continuation mark still ends.
    EXPECT_FALSE(LogLines(text, 0).empty());
}

}  // namespace
}  // namespace tarnscsi::indi
