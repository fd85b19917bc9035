// The Windows build's own: the output encoding (whole lines, no best fit, '|'
// for the rest) and the seek penalty of a share.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/testing/testing.h"

namespace {

UINT CodePage() {
  const UINT cp = GetConsoleOutputCP();
  return cp != 0 ? cp : GetOEMCP();
}

std::string Encode(const std::wstring &text) {
  return OutputEncode(text.data(), text.size());
}

}  // namespace

TEST(Win32Output, AsciiPassesUnchanged) {
  EXPECT_EQ("del \"C:\\a b\\x.jpg\"\n", Encode(L"del \"C:\\a b\\x.jpg\"\n"));
  EXPECT_EQ("REM x\r\n", OutputBytes(L"REM x\n"));
}

TEST(Win32Output, UnrepresentableCharactersNeverEndTheLine) {
  if (CodePage() == CP_UTF8) GTEST_SKIP() << "UTF-8 represents everything";
  // U+0100 would best-fit to 'A' in most OEM code pages: another file name.
  const std::string got = Encode(L"del \"a\u0100\u4E00b.jpg\"\n");
  EXPECT_EQ(std::string::npos, got.find("aA")) << got;
  EXPECT_EQ('\n', got.back());
  EXPECT_EQ(0u, got.find("del \"a"));
  EXPECT_NE(std::string::npos, got.find("b.jpg\"\n"));
  EXPECT_NE(std::string::npos, got.find('|'));
}

TEST(Win32Output, LoneSurrogateBecomesBar) {
  const std::wstring text = std::wstring(L"x") + (wchar_t)0xD800 + L"y";
  EXPECT_EQ("x|y", Encode(text));
  const std::string got = Encode(L"\U0001F600");  // a surrogate pair
  if (CodePage() == CP_UTF8) {
    EXPECT_EQ("\xF0\x9F\x98\x80", got);
  } else {
    EXPECT_FALSE(got.empty());
    EXPECT_EQ(std::string::npos, got.find_first_not_of('|')) << got;
  }
}

TEST(Win32Output, SlashIsASwitchPrefix) { EXPECT_TRUE(IsSwitchPrefix(L'/')); }

// A network share has no seek penalty: nothing is asked of the server.
TEST(Win32Device, ShareHasNoSeekPenalty) {
  EXPECT_EQ(kSeekNone, GetVolumeSeekPenalty(L"\\\\nosuchhost\\share\\dir"));
  EXPECT_EQ(kSeekNone, GetVolumeSeekPenalty(L"//nosuchhost/share/"));
  EXPECT_EQ(kSeekNone,
            GetVolumeSeekPenalty(L"\\\\?\\UNC\\nosuchhost\\share\\dir"));
}
