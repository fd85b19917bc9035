// Command-line parsing, the options dump and the help screen.
#include <string>
#include <vector>

#include "app/app.h"
#include "support/harness.h"

namespace {

class OptionsTest : public ::testing::Test {
 protected:
  void SetUp() override { optionsClear(); }
  void TearDown() override { optionsClear(); }

  // Parses args in order; returns what parsing printed.
  static std::string Parse(const std::vector<std::wstring> &args) {
    return CaptureOutput([&] {
      for (const std::wstring &arg : args) optionsParse(arg.c_str());
    });
  }

  // The eight flags as digits in record order: All, Debug, Delete, Help,
  // ParmError, Recurse, Test, Verbose.
  static std::string Flags() {
    const int32_t values[] = {options.All,  options.Debug,     options.Delete,
                              options.Help, options.ParmError, options.Recurse,
                              options.Test, options.Verbose};
    std::string s;
    for (int32_t v : values) s += (char)('0' + v);
    return s;
  }
};

const char *const kNoFlags = "00000000";

TEST_F(OptionsTest, ClearReleasesParametersAndZeroesEveryField) {
  Parse({L"-ardtv", L"-debug", L"a", L"b", L"-x"});
  optionsClear();
  EXPECT_EQ(Flags(), kNoFlags);
  EXPECT_EQ(options.uCntParms, 0u);
  for (const wchar_t *parm : options.Parm) EXPECT_EQ(parm, nullptr);
}

TEST_F(OptionsTest, BareQuestionMarkAsksForHelpAndIsNotStored) {
  EXPECT_EQ(Parse({L"?"}), "");
  EXPECT_EQ(Flags(), "00010000");
  EXPECT_EQ(options.uCntParms, 0u);
}

TEST_F(OptionsTest, DoubleQuestionMarkIsAParameter) {
  Parse({L"??"});
  EXPECT_EQ(Flags(), kNoFlags);
  ASSERT_EQ(options.uCntParms, 1u);
  EXPECT_STREQ(options.Parm[0], L"??");
}

TEST_F(OptionsTest, HelpSwitchesWithDash) {
  for (const wchar_t *arg : {L"-?", L"-h", L"-H"}) {
    optionsClear();
    EXPECT_EQ(Parse({arg}), "");
    EXPECT_EQ(Flags(), "00010000") << "argument " << P(arg);
  }
}

// Windows takes '/' as a switch prefix; on Linux it starts an absolute path.
TEST_F(OptionsTest, HelpSwitchesWithSlashFollowThePlatformPrefix) {
  for (const wchar_t *arg : {L"/?", L"/H"}) {
    optionsClear();
    Parse({arg});
    if (IsSwitchPrefix(L'/')) {
      EXPECT_EQ(Flags(), "00010000") << "argument " << P(arg);
      EXPECT_EQ(options.uCntParms, 0u);
    } else {
      EXPECT_EQ(Flags(), kNoFlags) << "argument " << P(arg);
      ASSERT_EQ(options.uCntParms, 1u);
      EXPECT_STREQ(options.Parm[0], arg);
    }
  }
}

TEST_F(OptionsTest, LeadingSlashFollowsThePlatformPrefix) {
  std::string out = Parse({L"/usr"});
  if (IsSwitchPrefix(L'/')) {
    EXPECT_EQ(out, Lines({"ERR: Unrecognized option 'u'",
                          "ERR: Unrecognized option 's'"}));
    EXPECT_EQ(Flags(), "00001100");
    EXPECT_EQ(options.uCntParms, 0u);
  } else {
    EXPECT_EQ(out, "");
    EXPECT_EQ(Flags(), kNoFlags);
    ASSERT_EQ(options.uCntParms, 1u);
    EXPECT_STREQ(options.Parm[0], L"/usr");
  }
}

TEST_F(OptionsTest, LettersCombineUnderOnePrefixInAnyCase) {
  EXPECT_EQ(Parse({L"-RdV"}), "");
  EXPECT_EQ(Flags(), "00100101");
  Parse({L"-a", L"-T", L"-r"});
  EXPECT_EQ(Flags(), "10100111");
}

TEST_F(OptionsTest, ParametersKeepTheirCaseAndOrder) {
  Parse({L"Src\\Pics", L"-r", L"dEsT", L"third"});
  ASSERT_EQ(options.uCntParms, 3u);
  EXPECT_STREQ(options.Parm[0], L"Src\\Pics");
  EXPECT_STREQ(options.Parm[1], L"dEsT");
  EXPECT_STREQ(options.Parm[2], L"third");
  EXPECT_EQ(options.Parm[3], nullptr);
}

TEST_F(OptionsTest, EmptyArgumentIsStoredAsEmptyParameter) {
  Parse({L""});
  ASSERT_EQ(options.uCntParms, 1u);
  EXPECT_STREQ(options.Parm[0], L"");
  EXPECT_EQ(Flags(), kNoFlags);
}

TEST_F(OptionsTest, DebugWordInAnyCaseSetsDebugOnly) {
  for (const wchar_t *arg : {L"-debug", L"-Debug", L"-DEBUG"}) {
    optionsClear();
    EXPECT_EQ(Parse({arg}), "");
    EXPECT_EQ(Flags(), "01000000") << "argument " << P(arg);
  }
}

TEST_F(OptionsTest, DebugWithMoreLettersIsReadLetterByLetter) {
  std::string out = Parse({L"-debugx"});
  EXPECT_EQ(
      out,
      Lines({"ERR: Unrecognized option 'e'", "ERR: Unrecognized option 'b'",
             "ERR: Unrecognized option 'u'", "ERR: Unrecognized option 'g'",
             "ERR: Unrecognized option 'x'"}));
  EXPECT_EQ(Flags(), "00101000");  // Delete from the D, and the refusal
}

TEST_F(OptionsTest, UnknownLetterIsReportedAsTypedAndTheScanGoesOn) {
  EXPECT_EQ(Parse({L"-x"}), Lines({"ERR: Unrecognized option 'x'"}));
  EXPECT_EQ(Parse({L"-Xa"}), Lines({"ERR: Unrecognized option 'X'"}));
  EXPECT_EQ(Flags(), "10001000");
}

TEST_F(OptionsTest, DoubledPrefixRejectsTheSecondDashButKeepsTheLetters) {
  EXPECT_EQ(Parse({L"--r"}), Lines({"ERR: Unrecognized option '-'"}));
  EXPECT_EQ(Flags(), "00001100");
}

TEST_F(OptionsTest, PrefixAloneIsRefusedSilently) {
  EXPECT_EQ(Parse({L"-"}), "");
  EXPECT_EQ(Flags(), "00001000");
  EXPECT_EQ(options.uCntParms, 0u);
}

TEST_F(OptionsTest, ArgumentsAfterARefusalAreStillParsed) {
  Parse({L"-x", L"src", L"-r"});
  EXPECT_EQ(Flags(), "00001100");
  ASSERT_EQ(options.uCntParms, 1u);
  EXPECT_STREQ(options.Parm[0], L"src");
}

TEST_F(OptionsTest, SixtyThreeParametersFitAndLaterOnesAreRefused) {
  std::vector<std::wstring> args;
  for (int i = 1; i <= 65; i++) args.push_back(L"p" + std::to_wstring(i));
  std::string out = Parse(args);
  EXPECT_EQ(out, Lines({"ERR: Maximum parameter count exceeded \"p64\"",
                        "ERR: Maximum parameter count exceeded \"p65\""}));
  EXPECT_EQ(options.ParmError, 1);
  ASSERT_EQ(options.uCntParms, 63u);
  EXPECT_STREQ(options.Parm[0], L"p1");
  EXPECT_STREQ(options.Parm[62], L"p63");
  EXPECT_EQ(options.Parm[63], nullptr);
}

TEST_F(OptionsTest, ParameterLongerThanAPathIsStoredWhole) {
  std::wstring longer(300, L'x');
  longer[0] = L'S';
  longer[299] = L'E';
  std::wstring exact(259, L'y');
  EXPECT_EQ(Parse({longer, exact}), "");
  EXPECT_EQ(Flags(), kNoFlags);
  ASSERT_EQ(options.uCntParms, 2u);
  EXPECT_EQ(std::wstring(options.Parm[0]), longer);
  EXPECT_EQ(std::wstring(options.Parm[1]), exact);
}

TEST_F(OptionsTest, LongArgumentStartingWithQuestionMarkIsAParameter) {
  std::wstring arg = L"?" + std::wstring(299, L'q');
  Parse({arg});
  EXPECT_EQ(options.Help, 0);
  ASSERT_EQ(options.uCntParms, 1u);
  EXPECT_EQ(std::wstring(options.Parm[0]), arg);
}

TEST_F(OptionsTest, DumpShowsEveryFieldThenTheParameters) {
  Parse({L"-DEBUG", L"a", L"-rv", L"b"});
  EXPECT_EQ(CaptureOutput(PrintOptionsDump),
            Lines({"Options", ".All             = 0", ".Debug           = 1",
                   ".Delete          = 0", ".Help            = 0",
                   ".ParmError       = 0", ".Recurse         = 1",
                   ".Test            = 0", ".Verbose         = 1",
                   ".uCntParms       = 2", ".Parm            = a",
                   ".Parm            = b"}));
}

TEST_F(OptionsTest, DebugTextIsPrintedOnlyUnderDebug) {
  EXPECT_EQ(CaptureOutput([] { DebugText(L"fault one"); }), "");
  Parse({L"-debug"});
  EXPECT_EQ(CaptureOutput([] {
              DebugText(L"fault one");
              DebugText(L"fault two\n");
            }),
            "fault one" + Lines({"fault two"}));
}

// The help screen as lines, without their line ends.
std::vector<std::string> HelpLines() {
  std::string text = CaptureOutput(PrintHelp);
  std::vector<std::string> lines;
  const std::string eol = kLineEnd;
  size_t start = 0;
  for (size_t end; (end = text.find(eol, start)) != std::string::npos;) {
    lines.push_back(text.substr(start, end - start));
    start = end + eol.size();
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

TEST(HelpScreen, FortyLinesWithTheBuildDateOnLineTwo) {
  std::vector<std::string> lines = HelpLines();
  ASSERT_EQ(lines.size(), 40u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1],
            std::string("TwinSift - Find duplicate files - ") + helpBuildDate);
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(
      lines[23],
      "    twinsift [-switches] <Source> [Destination] [Destination] ...");
  EXPECT_EQ(lines[37], "    twinsift -r c:\\music\\*.mp3");
  EXPECT_EQ(lines[39],
            "    twinsift -r e:\\ \"c:\\family pictures\\*.jpg\" "
            "\"c:\\scanned pictures\"");
}

}  // namespace
